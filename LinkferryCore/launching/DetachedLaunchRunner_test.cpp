#include "launching/DetachedLaunchRunner.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
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

constexpr const char* kInsideVariable = "LINKFERRY_TEST_PRIVATE_NAMESPACE";

// A loopback listener that accepts one connection and returns its request line.
class OneRequestServer {
 public:
  OneRequestServer() {
    m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (m_socket < 0 || ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(m_socket, 4) != 0 ||
        ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::system_error(errno, std::generic_category(), "loopback listener");
    }
    m_port = ntohs(address.sin_port);
  }
  ~OneRequestServer() { ::close(m_socket); }

  int port() const { return m_port; }

  // The first request line any connection sends within `limit`. Chromium may open a connection
  // ahead of time and close it unused, so connections that send nothing are skipped.
  std::optional<std::string> requestLine(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      pollfd ready{m_socket, POLLIN, 0};
      if (::poll(&ready, 1, static_cast<int>(left.count())) != 1) return std::nullopt;
      const int connection = ::accept4(m_socket, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) continue;
      std::string request;
      char buffer[1024];
      while (request.find("\r\n") == std::string::npos) {
        pollfd readable{connection, POLLIN, 0};
        if (::poll(&readable, 1, 10000) != 1) break;
        const ssize_t count = ::read(connection, buffer, sizeof(buffer));
        if (count <= 0) break;
        request.append(buffer, static_cast<std::size_t>(count));
      }
      const std::string reply =
          "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
      [[maybe_unused]] auto written = ::write(connection, reply.data(), reply.size());
      ::close(connection);
      if (request.find("\r\n") != std::string::npos) return request.substr(0, request.find("\r\n"));
    }
  }

 private:
  int m_socket = -1;
  int m_port = 0;
};

// Kills every process whose command line mentions `marker` (the browser's own data folder).
void killProcessesMentioning(const std::string& marker) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string commandLine = readFile(entry.path() / "cmdline");
    if (commandLine.find(marker) != std::string::npos) ::kill(std::stoi(name), SIGKILL);
  }
}

TEST(DetachedLaunchRunnerChromium, OpensTheLinkAndReturnsWhileTheBrowserRuns) {
  const auto chromium = Process::findExecutable("chromium", "/usr/bin:/usr/local/bin:/bin");
  if (!chromium) GTEST_SKIP() << "chromium is not installed";
  const std::string tools = "/usr/sbin:/usr/bin:/sbin:/bin";
  const auto unshare = Process::findExecutable("unshare", tools);
  const auto ip = Process::findExecutable("ip", tools);
  if (!unshare || !ip) GTEST_SKIP() << "unshare (util-linux) or ip (iproute2) is missing";

  if (!std::getenv(kInsideVariable)) {
    // Run this very test again inside fresh namespaces: no network but loopback, and a process
    // namespace whose end takes every browser process with it.
    const auto self = std::filesystem::read_symlink("/proc/self/exe").string();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter =
        std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name();
    const auto result =
        Process::run(*unshare, {"--net", "--pid", "--fork", "--mount-proc", "--kill-child",
                                "/usr/bin/env", std::string(kInsideVariable) + "=1", self, filter});
    if (result.exitStatus != 0 &&
        result.standardError.rfind("unshare: ", 0) == 0) {
      GTEST_SKIP() << "no private namespaces here: " << result.standardError;
    }
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    return;
  }

  ASSERT_EQ(Process::run(*ip, {"link", "set", "lo", "up"}).exitStatus, 0);
  TemporaryDirectory folder;
  const std::string dataDir = (folder.path() / "chromium-data").string();
  OneRequestServer server;
  const std::string link =
      "http://127.0.0.1:" + std::to_string(server.port()) + "/opened-by-linkferry?x=1";
  const LaunchPlan plan(
      *chromium,
      {"--headless=new", "--no-sandbox", "--no-first-run", "--disable-background-networking",
       "--disable-component-update", "--disable-sync", "--user-data-dir=" + dataDir, link},
      {});
  DetachedLaunchRunner().run(plan);
  const auto request = server.requestLine(60s);
  killProcessesMentioning(dataDir);
  ASSERT_TRUE(request) << "chromium never asked for the link";
  EXPECT_EQ(*request, "GET /opened-by-linkferry?x=1 HTTP/1.1");
}

}  // namespace
}  // namespace linkferry
