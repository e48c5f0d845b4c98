// The user's files as something else than files: a FIFO or a link to an endless device makes the
// command answer at once with the file and the problem, instead of hanging or running out of
// memory. `timeout` turns a hang into a failure instead of a stuck test.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <string>

#include "foundation/Process.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

using testing::TemporaryDirectory;

Process::Result linkferry(const TemporaryDirectory& home, const std::vector<std::string>& arguments) {
  std::vector<std::string> command{"20", testing::linkferryProgram().string()};
  command.insert(command.end(), arguments.begin(), arguments.end());
  Process::Options options;
  options.captureOutput = true;
  options.environment = std::map<std::string, std::string>{
      {"LINKFERRY_HOME", (home.path() / "data").string()},
      {"HOME", home.path().string()},
      {"XDG_DATA_HOME", (home.path() / "share").string()},
      {"XDG_DATA_DIRS", (home.path() / "system").string()},
      {"PATH", "/usr/bin:/bin"}};
  return Process::run("/usr/bin/timeout", command, options);
}

TEST(FileReaders, RulesCheckReportsAFifoAndADanglingLink) {
  TemporaryDirectory home;
  const auto rules = home.path() / "data" / "rules.json";
  std::filesystem::create_directories(rules.parent_path());
  ASSERT_EQ(::mkfifo(rules.c_str(), 0600), 0);
  const auto fifo = linkferry(home, {"rules", "check"});
  EXPECT_EQ(fifo.exitStatus, 1) << fifo.standardError;
  EXPECT_EQ(fifo.standardOutput, "cannot read " + rules.string() + ": not a regular file\n");

  std::filesystem::remove(rules);
  std::filesystem::create_symlink(home.path() / "dotfiles" / "rules.json", rules);
  const auto dangling = linkferry(home, {"rules", "check"});
  EXPECT_EQ(dangling.exitStatus, 1) << dangling.standardError;
  EXPECT_EQ(dangling.standardOutput,
            "cannot read " + rules.string() + ": symbolic link to a missing file\n");
}

TEST(FileReaders, BrowsersRefusesAnEndlessBrowsersFileAndSkipsOddDesktopEntries) {
  TemporaryDirectory home;
  const auto applications = home.path() / "share" / "applications";
  std::filesystem::create_directories(applications);
  ASSERT_EQ(::mkfifo((applications / "stuck.desktop").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/urandom", applications / "noise.desktop");
  home.write("share/applications/web.desktop",
             "[Desktop Entry]\nType=Application\nName=Web\nExec=/usr/bin/true %u\n"
             "MimeType=x-scheme-handler/http;x-scheme-handler/https;\n");
  const auto listed = linkferry(home, {"browsers"});
  EXPECT_EQ(listed.exitStatus, 0) << listed.standardError;
  EXPECT_NE(listed.standardOutput.find("Web"), std::string::npos) << listed.standardOutput;

  const auto custom = home.path() / "data" / "browsers.json";
  std::filesystem::create_directories(custom.parent_path());
  std::filesystem::create_symlink("/dev/zero", custom);
  const auto endless = linkferry(home, {"browsers"});
  EXPECT_EQ(endless.exitStatus, 1);
  EXPECT_EQ(endless.standardError,
            "linkferry: cannot read " + custom.string() + ": not a regular file\n");
}

}  // namespace
}  // namespace linkferry
