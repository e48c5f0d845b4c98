#include "foundation/Files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

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

// More pieces than one system call takes, empty ones among them, in both durabilities.
TEST(Files, WriteAtomicallyJoinsPiecesInOrder) {
  TemporaryDirectory folder;
  const auto file = folder.path() / "log.json";
  std::vector<std::string> texts;
  for (int i = 0; i < 5000; ++i) texts.push_back(i % 7 == 0 ? "" : std::to_string(i) + ",");
  const std::vector<std::string_view> pieces(texts.begin(), texts.end());
  std::string joined;
  for (const std::string& text : texts) joined += text;
  for (Files::Durability durability : {Files::Durability::ordered, Files::Durability::synced}) {
    Files::writeAtomically(file, pieces, durability);  // the first creates, the second replaces
    EXPECT_EQ(Files::read(file), joined);
  }
  Files::writeAtomically(file, std::vector<std::string_view>{}, Files::Durability::ordered);
  EXPECT_EQ(Files::read(file), "");
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

std::vector<std::string> entriesOf(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Real processes killed at random moments while they replace a large file: the file is always
// the content before or after one of the writes, and nothing a killed writer left survives the
// next clean save.
TEST(Files, KilledWritersLeaveWholeFilesAndNoTemporaries) {
  TemporaryDirectory folder;
  const auto file = folder.path() / "settings.json";
  const std::string first(2 * Files::kMegabyte, 'a');
  const std::string second(3 * Files::kMegabyte, 'b');
  std::mt19937 random(12345);
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE(round);
    Files::writeAtomically(file, "clean");
    ASSERT_EQ(entriesOf(folder.path()), std::vector<std::string>{"settings.json"});
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (bool odd = false;; odd = !odd) Files::writeAtomically(file, odd ? second : first);
    }
    ::usleep(std::uniform_int_distribution<useconds_t>(0, 30'000)(random));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    const std::string content = Files::read(file);
    EXPECT_TRUE(content == "clean" || content == first || content == second)
        << content.size() << " bytes";
  }
  Files::writeAtomically(file, "clean");
  EXPECT_EQ(entriesOf(folder.path()), std::vector<std::string>{"settings.json"});
}

TEST(Files, ASaveRemovesOnlyTheTemporariesOfDeadWriters) {
  TemporaryDirectory folder;
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  const std::string dead = ".rules.json.tmp-" + std::to_string(gone) + "-1";
  const std::string alive = ".rules.json.tmp-" + std::to_string(::getppid()) + "-1";
  const std::string other = ".settings.json.tmp-" + std::to_string(gone) + "-1";
  for (const auto& name : {dead, alive, other}) folder.write(name, "partial");
  Files::writeAtomically(folder.path() / "rules.json", "[]");
  EXPECT_EQ(entriesOf(folder.path()), (std::vector<std::string>{alive, other, "rules.json"}));
}

// Dotfiles kept elsewhere and linked into the data folder stay linked.
TEST(Files, WriteAtomicallyWritesThroughSymbolicLinks) {
  TemporaryDirectory folder;
  const auto target = folder.write("dotfiles/rules.json", "old");
  std::filesystem::create_directories(folder.path() / "data");
  const auto link = folder.path() / "data" / "rules.json";
  std::filesystem::create_symlink("../dotfiles/rules.json", link);
  Files::writeAtomically(link, "new");
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(Files::read(target), "new");

  const auto dangling = folder.path() / "data" / "settings.json";
  std::filesystem::create_symlink(folder.path() / "dotfiles" / "settings.json", dangling);
  Files::writeAtomically(dangling, "{}");
  EXPECT_TRUE(std::filesystem::is_symlink(dangling));
  EXPECT_EQ(Files::read(folder.path() / "dotfiles" / "settings.json"), "{}");
}

std::string readError(const std::filesystem::path& path, std::uint64_t limit) {
  try {
    Files::readIfExists(path, limit);
  } catch (const std::system_error& error) {
    return error.what();
  }
  return "(read)";
}

TEST(Files, ReadRefusesWhatIsNotAFileOfBoundedSize) {
  TemporaryDirectory folder;
  const auto fifo = folder.path() / "rules.json";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(readError(fifo, Files::kDefaultReadLimit),
            "cannot read " + fifo.string() + ": not a regular file");
  const auto zero = folder.path() / "browsers.json";
  std::filesystem::create_symlink("/dev/zero", zero);
  EXPECT_EQ(readError(zero, Files::kDefaultReadLimit),
            "cannot read " + zero.string() + ": not a regular file");
  const auto big = folder.write("big.desktop", std::string(Files::kMegabyte + 1, 'x'));
  EXPECT_EQ(readError(big, Files::kMegabyte), "cannot read " + big.string() + ": larger than 1 MB");
  EXPECT_EQ(Files::read(big, Files::kMegabyte + 1).size(), Files::kMegabyte + 1);
  const auto dangling = folder.path() / "settings.json";
  std::filesystem::create_symlink(folder.path() / "gone.json", dangling);
  EXPECT_EQ(readError(dangling, Files::kDefaultReadLimit),
            "cannot read " + dangling.string() + ": symbolic link to a missing file");
  // Files the kernel sizes as 0 are read to their end.
  EXPECT_NE(Files::read("/proc/self/status").find("Pid:"), std::string::npos);
  EXPECT_TRUE(Files::isReadableRegularFile(big));
  EXPECT_FALSE(Files::isReadableRegularFile(fifo));
}

TEST(Files, ExpandTildeOnlyAtTheStart) {
  EXPECT_EQ(Files::expandTilde("~", "/home/ann"), "/home/ann");
  EXPECT_EQ(Files::expandTilde("~/Data", "/home/ann"), "/home/ann/Data");
  EXPECT_EQ(Files::expandTilde("/opt/~/x", "/home/ann"), "/opt/~/x");
  EXPECT_EQ(Files::expandTilde("~bob/x", "/home/ann"), "~bob/x");
}

}  // namespace
}  // namespace linkferry
