#include "foundation/Files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "support/TestSupport.h"

namespace linkferry {
namespace {

using testing::TemporaryDirectory;

TEST(Files, WriteAtomicallyCreatesParentsAndReplacesContent) {
  TemporaryDirectory folder;
  auto file = folder.path() / "a" / "b" / "settings.json";
  Files::writeAtomically(file, "first");
  EXPECT_EQ(Files::read(file), "first");
  Files::writeAtomically(file, "second, longer content");
  EXPECT_EQ(Files::read(file), "second, longer content");
  // No temporary file is left beside it.
  int entries = 0;
  for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator(file.parent_path())) ++entries;
  EXPECT_EQ(entries, 1);
}

TEST(Files, WriteAtomicallyKeepsTheModeOfAnExistingFile) {
  TemporaryDirectory folder;
  auto file = folder.write("private.json", "old");
  ::chmod(file.c_str(), 0600);
  Files::writeAtomically(file, "new");
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// Root ignores permissions, so the unwritable folder is tried from a child that drops to nobody.
TEST(Files, FailedWriteLeavesTheOldFileAndNamesThePath) {
  TemporaryDirectory folder;
  auto file = folder.write("rules.json", "precious");
  ::chmod(folder.path().c_str(), 0555);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
    try {
      Files::writeAtomically(file, "lost");
    } catch (const std::system_error& error) {
      std::string text = error.what();
      ::_exit(text.find("cannot write " + file.string()) == 0 ? 0 : 2);
    }
    ::_exit(1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ::chmod(folder.path().c_str(), 0755);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(Files::read(file), "precious");
}

TEST(Files, ReadIfExistsDistinguishesMissingFromUnreadable) {
  TemporaryDirectory folder;
  EXPECT_EQ(Files::readIfExists(folder.path() / "missing"), std::nullopt);
  EXPECT_THROW(Files::read(folder.path() / "missing"), std::system_error);
  EXPECT_THROW(Files::readIfExists(folder.path()), std::system_error);  // a folder
}

TEST(Files, ExpandTildeOnlyAtTheStart) {
  EXPECT_EQ(Files::expandTilde("~", "/home/ann"), "/home/ann");
  EXPECT_EQ(Files::expandTilde("~/Data", "/home/ann"), "/home/ann/Data");
  EXPECT_EQ(Files::expandTilde("/opt/~/x", "/home/ann"), "/opt/~/x");
  EXPECT_EQ(Files::expandTilde("~bob/x", "/home/ann"), "~bob/x");
}

}  // namespace
}  // namespace linkferry
