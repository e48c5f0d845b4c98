#include "foundation/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace linkferry {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;

Process::Result shell(const std::string& script, const Process::Options& options = {}) {
  return Process::run("/bin/sh", {"-c", script}, options);
}

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// This process's children by pid, with their state letter from /proc ('Z' for a zombie).
std::map<pid_t, char> children() {
  std::map<pid_t, char> found;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string stat = readFile(entry.path() / "stat");
    // "pid (command) state ppid ...": the command may hold spaces and parentheses.
    const auto close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(stat.substr(close + 1));
    char state = 0;
    pid_t parent = 0;
    if (fields >> state >> parent && parent == ::getpid()) found[std::stoi(name)] = state;
  }
  return found;
}

// Waits (up to a limit a loaded machine never reaches) until every child of ours is one of
// `before` and none is a zombie; the children that are not, as "pid state".
std::vector<std::string> strayChildren(const std::map<pid_t, char>& before) {
  const auto deadline = Clock::now() + 30s;
  for (;;) {
    std::vector<std::string> stray;
    for (const auto& [pid, state] : children()) {
      if (!before.contains(pid) || state == 'Z') {
        stray.push_back(std::to_string(pid) + " " + state);
      }
    }
    if (stray.empty() || Clock::now() > deadline) return stray;
    std::this_thread::sleep_for(20ms);
  }
}

TEST(ProcessRun, ReportsExitStatusAndStandardError) {
  struct Case {
    std::string script;
    int status;
    std::string error;
  } cases[] = {
      {"exit 0", 0, ""},
      {"echo oops >&2; exit 2", 2, "oops\n"},
      {"printf 'a'; printf 'b' >&2; exit 255", 255, "b"},
      {"kill -9 $$", 128 + 9, ""},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.script);
    auto result = shell(test.script);
    EXPECT_EQ(result.exitStatus, test.status);
    EXPECT_EQ(result.standardError, test.error);
    EXPECT_EQ(result.standardOutput, "");  // not captured
  }
}

TEST(ProcessRun, PassesArgumentsWithoutAShell) {
  Process::Options options;
  options.captureOutput = true;
  auto result = Process::run("/bin/echo", {"$HOME", "a b", "*", ";", "x'y"}, options);
  EXPECT_EQ(result.standardOutput, "$HOME a b * ; x'y\n");
}

TEST(ProcessRun, ChattyChildOnBothStreamsCannotDeadlock) {
  Process::Options options;
  options.captureOutput = true;
  auto result = shell(
      "head -c 3000000 /dev/zero >&2; head -c 2000000 /dev/zero; "
      "head -c 1000 /dev/zero >&2; exit 4",
      options);
  EXPECT_EQ(result.exitStatus, 4);
  EXPECT_EQ(result.standardError.size(), 3001000u);
  EXPECT_EQ(result.standardOutput.size(), 2000000u);
}

TEST(ProcessRun, FeedsLargeInputWhileReadingOutput) {
  // More than any pipe buffer in both directions: writing all input before reading would hang.
  std::string input(3 << 20, 'x');
  for (std::size_t i = 0; i < input.size(); i += 4097) input[i] = static_cast<char>('a' + i % 26);
  Process::Options options;
  options.captureOutput = true;
  options.input = input;
  auto result = Process::run("/bin/cat", {}, options);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_TRUE(result.standardOutput == input);
}

TEST(ProcessRun, ChildThatIgnoresItsInputDoesNotKillUs) {
  Process::Options options;
  options.input = std::string(1 << 20, 'x');
  auto result = shell("exec 0<&-; exit 3", options);
  EXPECT_EQ(result.exitStatus, 3);
}

TEST(ProcessRun, ReplacesEnvironmentAndWorkingDirectory) {
  testing::TemporaryDirectory folder;
  Process::Options options;
  options.captureOutput = true;
  options.environment = std::map<std::string, std::string>{{"ONLY", "this"}};
  options.workingDirectory = folder.path().string();
  auto result = shell("echo \"$ONLY|${HOME-unset}|$(pwd -P)\"", options);
  auto expected = "this|unset|" + std::filesystem::canonical(folder.path()).string() + "\n";
  EXPECT_EQ(result.standardOutput, expected);
}

// "<blocked> <ignored>" from /proc/<pid>/status lines, in hexadecimal, leaving out signals 32
// and 33: the C library reserves them for itself and sets them up in every program it starts.
std::string signalMasks(const std::string& statusLines) {
  std::istringstream lines(statusLines);
  std::string name, blocked, ignored;
  lines >> name >> blocked >> name >> ignored;
  auto clean = [](const std::string& hex) {
    unsigned long long mask = std::stoull(hex.empty() ? "0" : hex, nullptr, 16);
    mask &= ~(3ull << 31);
    std::ostringstream text;
    text << std::hex << mask;
    return text.str();
  };
  return clean(blocked) + " " + clean(ignored);
}

TEST(ProcessRun, ChildStartsWithNoSignalIgnoredOrBlocked) {
  // Whatever this process ignores or blocks, a child must not inherit it: a browser that
  // inherited an ignored SIGPIPE or a blocked SIGTERM would misbehave for its whole life.
  struct sigaction ignore {
  }, old{};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &old);
  sigset_t term, oldMask;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  ::pthread_sigmask(SIG_BLOCK, &term, &oldMask);
  Process::Options options;
  options.captureOutput = true;
  auto run = Process::run("/bin/grep", {"-E", "^Sig(Blk|Ign)", "/proc/self/status"}, options);
  auto detached = Process::launchDetached(
      "/bin/sh", {"-c", "exec grep -E '^Sig(Blk|Ign)' /proc/self/status >&2"}, 5s);
  ::pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
  ::sigaction(SIGPIPE, &old, nullptr);
  EXPECT_EQ(signalMasks(run.standardOutput), "0 0");
  EXPECT_EQ(signalMasks(detached.standardError), "0 0");
}

TEST(ProcessRun, ProgramThatCannotStartThrowsSystemError) {
  for (std::string executable : {"/nonexistent/program", "/etc/passwd", "/tmp"}) {
    SCOPED_TRACE(executable);
    try {
      Process::run(executable, {});
      ADD_FAILURE() << "no exception";
    } catch (const std::system_error& error) {
      EXPECT_THAT(error.what(), ::testing::StartsWith("cannot start " + executable + ": "));
    }
  }
  try {
    Process::run("/nonexistent/program", {});
  } catch (const std::system_error& error) {
    EXPECT_STREQ(error.what(), "cannot start /nonexistent/program: No such file or directory");
  }
}

TEST(ProcessDetached, ChildThatStaysUpIsStillRunningAfterTheWindow) {
  // A wait that lasted until the child ended would see it exit, so `stillRunning` says the call
  // returned while the child ran.
  auto start = Clock::now();
  auto result = Process::launchDetached("/bin/sleep", {"3"}, 300ms);
  auto elapsed = Clock::now() - start;
  EXPECT_TRUE(result.stillRunning);
  EXPECT_FALSE(result.exitStatus);
  EXPECT_GE(elapsed, 300ms);
}

TEST(ProcessDetached, QuickExitsEndTheWaitEarly) {
  struct Case {
    std::string script;
    int status;
    std::string error;
  } cases[] = {
      {"exit 0", 0, ""},
      {"echo handed over >&2; exit 0", 0, "handed over\n"},
      {"echo 'no display' >&2; exit 1", 1, "no display\n"},
      {"kill -TERM $$", 128 + 15, ""},
  };
  // A window far longer than any loaded machine needs to start a shell: a call that waited for
  // it to pass would not return within the test's own limit.
  for (const auto& test : cases) {
    SCOPED_TRACE(test.script);
    auto start = Clock::now();
    auto result = Process::launchDetached("/bin/sh", {"-c", test.script}, 10min);
    EXPECT_LT(Clock::now() - start, 5min);
    EXPECT_FALSE(result.stillRunning);
    EXPECT_EQ(result.exitStatus, test.status);
    EXPECT_EQ(result.standardError, test.error);
  }
}

TEST(ProcessDetached, ProgramThatCannotStartThrowsSystemError) {
  try {
    Process::launchDetached("/nonexistent/browser", {"https://a.test/"}, 300ms);
    ADD_FAILURE() << "no exception";
  } catch (const std::system_error& error) {
    EXPECT_STREQ(error.what(), "cannot start /nonexistent/browser: No such file or directory");
  }
}

TEST(ProcessDetached, RunsInItsOwnSessionWithNullStandardStreams) {
  auto result =
      Process::launchDetached("/bin/sh",
                              {"-c",
                               "echo $$ $(cut -d' ' -f6 /proc/$$/stat) $(readlink /proc/$$/fd/0) "
                               "$(readlink /proc/$$/fd/1) >&2; exit 9"},
                              5s);
  ASSERT_EQ(result.exitStatus, 9);
  std::istringstream words(result.standardError);
  std::string pid, session, input, output;
  words >> pid >> session >> input >> output;
  EXPECT_EQ(pid, session);
  EXPECT_EQ(input, "/dev/null");
  EXPECT_EQ(output, "/dev/null");
}

TEST(ProcessDetached, ChildWritingAfterTheWindowKeepsRunningAndLeavesNoZombie) {
  testing::TemporaryDirectory folder;
  const auto before = children();
  auto marker = folder.path() / "alive";
  // Writes to standard error long after we stopped listening; with a closed pipe the write
  // would kill it by SIGPIPE before it reached the marker.
  auto result = Process::launchDetached(
      "/bin/sh",
      {"-c", "sleep 0.6; head -c 200000 /dev/zero >&2; echo late >&2; echo ok > '" +
                 marker.string() + "'"},
      200ms);
  EXPECT_TRUE(result.stillRunning);
  const auto deadline = Clock::now() + 30s;
  while (readFile(marker) != "ok\n" && Clock::now() < deadline) std::this_thread::sleep_for(50ms);
  EXPECT_EQ(readFile(marker), "ok\n");
  // Its drainer and itself were reaped once they ended.
  EXPECT_THAT(strayChildren(before), ::testing::IsEmpty());
}

// Run by the next test in a process of its own, which returns (and exits) after the window.
TEST(ProcessDetachedCaller, LaunchesAWriterAndExits) {
  const char* marker = std::getenv("LINKFERRY_TEST_DETACHED_MARKER");
  if (!marker) GTEST_SKIP() << "only run by ProcessDetached.ProgramOutlivesAShortLivedCaller";
  // Once its caller has gone, it writes far more than a pipe holds to its standard error.
  auto result =
      Process::launchDetached("/bin/sh",
                              {"-c",
                               "while kill -0 $PPID 2>/dev/null; do sleep 0.05; done; "
                               "head -c 200000 /dev/zero >&2; echo late >&2; echo ok > \"$0\"",
                               marker},
                              100ms);
  EXPECT_TRUE(result.stillRunning);
}

TEST(ProcessDetached, ProgramOutlivesAShortLivedCaller) {
  // A command-line caller exits right after the window: the program's standard error must still
  // be read, or its next write would kill it by SIGPIPE.
  testing::TemporaryDirectory folder;
  const auto marker = folder.path() / "alive";
  auto environment = Process::currentEnvironment();
  environment["LINKFERRY_TEST_DETACHED_MARKER"] = marker.string();
  Process::Options options;
  options.environment = environment;
  const auto caller =
      Process::run(std::filesystem::read_symlink("/proc/self/exe").string(),
                   {"--gtest_filter=ProcessDetachedCaller.LaunchesAWriterAndExits"}, options);
  ASSERT_EQ(caller.exitStatus, 0) << caller.standardError;
  const auto deadline = Clock::now() + 30s;
  while (readFile(marker) != "ok\n" && Clock::now() < deadline) std::this_thread::sleep_for(20ms);
  EXPECT_EQ(readFile(marker), "ok\n");
}

TEST(ProcessDetached, LeavesNoZombieAfterManyShortAndLongLivedPrograms) {
  testing::TemporaryDirectory folder;
  const auto fifo = folder.path() / "hold";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // Held open for reading and writing, so the programs' opens do not block and they read until
  // it closes.
  int hold = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(hold, 0);
  const auto before = children();
  for (int i = 0; i < 20; ++i) {
    auto quick = Process::launchDetached("/bin/sh", {"-c", "echo bye >&2; exit 3"}, 10min);
    EXPECT_EQ(quick.exitStatus, 3);
    auto held = Process::launchDetached(
        "/bin/sh", {"-c", "echo started >&2; read line < \"$0\"; echo done >&2", fifo.string()},
        50ms);
    EXPECT_TRUE(held.stillRunning);
  }
  // The quick ones were reaped within their window already.
  const auto now = children();
  EXPECT_EQ(
      std::count_if(now.begin(), now.end(), [](const auto& child) { return child.second == 'Z'; }),
      0);
  ::close(hold);
  EXPECT_THAT(strayChildren(before), ::testing::IsEmpty());
}

TEST(ProcessDetached, NeitherDrainerNorChildKeepsOurDescriptors) {
  // A descriptor of ours without close-on-exec, such as the standard output a script reads to
  // its end: neither the program nor the drainer of its standard error may keep it open, and the
  // program holds nothing but its three standard streams.
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  testing::TemporaryDirectory folder;
  const auto pidFile = folder.path() / "pid";
  auto result = Process::launchDetached(
      "/bin/sh", {"-c", "echo $$ > '" + pidFile.string() + "'; exec sleep 30"}, 100ms);
  EXPECT_TRUE(result.stillRunning);
  // Once the shell wrote its pid and became sleep, its descriptors are the program's.
  const auto deadline = Clock::now() + 30s;
  while (!readFile(pidFile).ends_with("\n") && Clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  const pid_t pid = std::stoi("0" + readFile(pidFile));
  ASSERT_GT(pid, 0);
  const std::string comm = "/proc/" + std::to_string(pid) + "/comm";
  while (readFile(comm) != "sleep\n" && Clock::now() < deadline) std::this_thread::sleep_for(10ms);
  std::map<int, std::string> open;
  for (const auto& entry :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    open[std::stoi(entry.path().filename())] = std::filesystem::read_symlink(entry.path());
  }
  ::kill(pid, SIGKILL);
  ASSERT_EQ(open.size(), 3u);
  EXPECT_EQ(open[0], "/dev/null");
  EXPECT_EQ(open[1], "/dev/null");
  EXPECT_THAT(open[2], ::testing::StartsWith("pipe:"));
  ::close(fds[1]);
  pollfd reader{fds[0], POLLIN, 0};
  EXPECT_EQ(::poll(&reader, 1, 1000), 1);
  char byte;
  EXPECT_EQ(::read(fds[0], &byte, 1), 0);  // end of file: nobody else holds the write end
  ::close(fds[0]);
}

TEST(ProcessFindExecutable, SearchesAbsoluteFoldersInOrder) {
  testing::TemporaryDirectory folder;
  auto first = folder.path() / "first";
  auto second = folder.path() / "second";
  folder.write("first/tool", "not executable");
  folder.write("second/tool", "#!/bin/sh\n");
  std::filesystem::permissions(second / "tool", std::filesystem::perms::owner_all);
  std::filesystem::create_directories(first / "dir-tool");
  std::filesystem::create_directories(second / "dir-tool");
  const std::string path = first.string() + ":" + second.string() + "/";

  EXPECT_EQ(Process::findExecutable("tool", path), (second / "tool").string());
  EXPECT_EQ(Process::findExecutable("dir-tool", path), std::nullopt);
  EXPECT_EQ(Process::findExecutable("missing", path), std::nullopt);
  EXPECT_EQ(Process::findExecutable("", path), std::nullopt);
  EXPECT_EQ(Process::findExecutable("sh", "/nonexistent::relative:/bin"), "/bin/sh");
  // Empty and relative entries never mean the current folder.
  EXPECT_EQ(Process::findExecutable("tool", ":."), std::nullopt);
  EXPECT_EQ(Process::findExecutable((second / "tool").string(), ""), (second / "tool").string());
  EXPECT_EQ(Process::findExecutable((first / "tool").string(), "/bin"), std::nullopt);
}

TEST(ProcessEnvironment, ReadsEveryVariableWithValuesHoldingEqualSigns) {
  testing::ScopedEnvironment equals("LINKFERRY_TEST_EQUALS", "a=b=c");
  testing::ScopedEnvironment empty("LINKFERRY_TEST_EMPTY", "");
  testing::ScopedEnvironment unset("LINKFERRY_TEST_UNSET", nullptr);
  const auto variables = Process::currentEnvironment();
  EXPECT_EQ(variables.at("LINKFERRY_TEST_EQUALS"), "a=b=c");
  EXPECT_EQ(variables.at("LINKFERRY_TEST_EMPTY"), "");
  EXPECT_EQ(variables.count("LINKFERRY_TEST_UNSET"), 0u);
}

}  // namespace
}  // namespace linkferry
