#include "launching/DetachedLaunchRunner.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "fixtures/PrivateNamespace.h"
#include "foundation/Process.h"
#include "launching/LaunchError.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

using namespace std::chrono_literals;
using testing::TemporaryDirectory;

// A small program written into `folder`: a shell script, so the tests show exactly what each one
// does. The runner starts it like any browser, by its path.
std::string recorder(const TemporaryDirectory& folder, const std::string& name,
                     const std::string& body) {
  const auto path = folder.write(name, "#!/bin/sh\n" + body + "\n");
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  return path.string();
}

std::string readFile(const std::filesystem::path& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::optional<LaunchError> failure(const LaunchPlan& plan) {
  try {
    DetachedLaunchRunner(500ms).run(plan);
    return std::nullopt;
  } catch (const LaunchError& error) {
    return error;
  }
}

TEST(DetachedLaunchRunner, EarlyExitsAreJudgedByStatusAndStandardError) {
  TemporaryDirectory folder;
  struct Case {
    const char* name;
    const char* body;
    std::optional<LaunchError> error;
  } cases[] = {
      {"handed to a running instance", "exit 0", std::nullopt},
      {"chatty but successful", "echo 'Opening in existing browser session.' >&2; exit 0",
       std::nullopt},
      {"fails with a message", "echo 'Error: cannot open display' >&2; exit 1",
       LaunchError::failedWithOutput(1, "Error: cannot open display")},
      {"message is trimmed and repaired", "printf '\\n  bad \\377 profile \\n\\n' >&2; exit 4",
       LaunchError::failedWithOutput(4, "bad \uFFFD profile")},
      {"silent failure", "exit 3", LaunchError::failed(3)},
      {"blank output is no output", "printf ' \\n\\t' >&2; exit 1", LaunchError::failed(1)},
      {"killed by a signal", "kill -9 $$", LaunchError::failed(128 + 9)},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    const LaunchPlan plan(recorder(folder, "program", test.body), {"https://a.test/"}, {});
    EXPECT_EQ(failure(plan), test.error);
  }
}

TEST(DetachedLaunchRunner, PassesArgumentsAsTheyAreWithoutAShell) {
  TemporaryDirectory folder;
  const auto record = folder.path() / "arguments";
  const std::string program =
      recorder(folder, "record", "printf '%s\\n' \"$@\" > '" + record.string() + "'");
  const std::vector<std::string> arguments = {"--profile-directory=Profile 1", "$(touch pwned)",
                                              "a;b|c", "'quoted'", "https://a.test/?q=1&r=`id`"};
  DetachedLaunchRunner().run(LaunchPlan(program, arguments, {}));
  std::string expected;
  for (const auto& argument : arguments) expected += argument + "\n";
  EXPECT_EQ(readFile(record), expected);
  EXPECT_FALSE(std::filesystem::exists("pwned"));
}

TEST(DetachedLaunchRunner, ABrowserThatKeepsRunningIsASuccessAndIsLeftOnItsOwn) {
  TemporaryDirectory folder;
  const auto pidFile = folder.path() / "pid";
  const std::string program =
      recorder(folder, "browser", "echo $$ > '" + pidFile.string() + "'\nexec sleep 30");
  const auto start = std::chrono::steady_clock::now();
  DetachedLaunchRunner(300ms).run(LaunchPlan(program, {"https://a.test/"}, {}));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  // It waited for the window, not for the browser.
  EXPECT_GE(elapsed, 300ms);
  EXPECT_LT(elapsed, 10s);

  const pid_t pid = std::stoi(readFile(pidFile));
  ASSERT_GT(pid, 0);
  EXPECT_EQ(::kill(pid, 0), 0) << "the browser should still run";
  EXPECT_EQ(::getsid(pid), pid) << "the browser should lead its own session";
  EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/fd/0"), "/dev/null");
  EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/fd/1"), "/dev/null");
  ::kill(pid, SIGKILL);
}

TEST(DetachedLaunchRunner, ProgramThatCannotStartIsASystemError) {
  TemporaryDirectory folder;
  const auto notExecutable = folder.write("plain", "#!/bin/sh\nexit 0\n");
  for (const std::string& program : {std::string("/nonexistent/browser"), notExecutable.string()}) {
    SCOPED_TRACE(program);
    try {
      DetachedLaunchRunner().run(LaunchPlan(program, {"https://a.test/"}, {}));
      ADD_FAILURE() << "no exception";
    } catch (const LaunchError& error) {
      ADD_FAILURE() << "LaunchError: " << error.what();
    } catch (const std::system_error& error) {
      EXPECT_EQ(std::string(error.what()).rfind("cannot start " + program + ": ", 0), 0u)
          << error.what();
    }
  }
}

// --- Real Chromium, inside a private network and process namespace ---

TEST(DetachedLaunchRunnerChromium, OpensTheLinkAndReturnsWhileTheBrowserRuns) {
  const auto chromium = Process::findExecutable("chromium", "/usr/bin:/usr/local/bin:/bin");
  if (!chromium) GTEST_SKIP() << "chromium is not installed";
  if (!testing::insidePrivateNamespace()) {
    testing::rerunInPrivateNamespace();
    return;
  }
  ASSERT_TRUE(testing::loopbackUp());
  TemporaryDirectory folder;
  const std::string dataDir = (folder.path() / "chromium-data").string();
  testing::OneRequestServer server;
  const std::string link =
      "http://127.0.0.1:" + std::to_string(server.port()) + "/opened-by-linkferry?x=1";
  const LaunchPlan plan(
      *chromium,
      {"--headless=new", "--no-sandbox", "--no-first-run", "--disable-background-networking",
       "--disable-component-update", "--disable-sync", "--user-data-dir=" + dataDir, link},
      {});
  DetachedLaunchRunner().run(plan);
  const auto request = server.requestLine(60s);
  testing::stopEveryOtherProcess();
  ASSERT_TRUE(request) << "chromium never asked for the link";
  EXPECT_EQ(*request, "GET /opened-by-linkferry?x=1 HTTP/1.1");
}

// A browser is told of as started while it still runs, within its window; a program that hands
// the link on is told of only after it exited 0; one that fails is never told of.
TEST(DetachedLaunchRunner, TellsOfTheStartAtExecButOfAHandOnAfterItsExit) {
  TemporaryDirectory folder;
  const auto release = folder.path() / "release";
  const auto exited = folder.path() / "exited";
  const std::string waitForRelease =
      "while [ ! -e '" + release.string() + "' ]; do sleep 0.02; done";
  const std::string browser = recorder(folder, "browser", waitForRelease + "; exit 0");
  std::filesystem::create_directories(folder.path() / "bin");
  const std::string handOn = recorder(folder, "bin/gtk-launch", "touch '" + exited.string() + "'");
  const std::string failing = recorder(folder, "failing", waitForRelease + "; exit 1");

  bool browserRunningWhenTold = false;
  DetachedLaunchRunner(10min).runTellingStart(LaunchPlan(browser, {}, {}), [&] {
    browserRunningWhenTold = !std::filesystem::exists(release);
    // The run goes on only once the test lets the browser finish.
    std::ofstream(release).flush();
  });
  EXPECT_TRUE(browserRunningWhenTold);

  bool handOnExitedWhenTold = false;
  DetachedLaunchRunner(10min).runTellingStart(LaunchPlan(handOn, {}, {}), [&] {
    handOnExitedWhenTold = std::filesystem::exists(exited);
  });
  EXPECT_TRUE(handOnExitedWhenTold);

  int told = 0;
  std::filesystem::remove(release);
  EXPECT_THROW(DetachedLaunchRunner(10min).runTellingStart(
                   LaunchPlan(failing, {}, {}),
                   [&] {
                     ++told;
                     std::ofstream(release).flush();
                   }),
               LaunchError);
  // Told at its exec like any browser; its failure is the run's verdict all the same.
  EXPECT_EQ(told, 1);
  EXPECT_THROW(DetachedLaunchRunner(10min).runTellingStart(
                   LaunchPlan((folder.path() / "missing").string(), {}, {}), [&] { ++told; }),
               std::system_error);
  EXPECT_EQ(told, 1);
}

}  // namespace
}  // namespace linkferry
