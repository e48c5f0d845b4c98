// The clients of `linkferry serve` against stand-ins on a real socket: a service that answers
// each request with a line written in advance, and one whose queue is full because it accepts
// nothing.
#include "ServiceClient.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "ClickOutcome.h"
#include "foundation/Process.h"
#include "foundation/SocketLines.h"
#include "launching/HelperSocket.h"
#include "settings/LinkferryPaths.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

using namespace std::chrono_literals;
using testing::TemporaryDirectory;

std::map<std::string, std::string> environmentIn(const TemporaryDirectory& folder) {
  return {{"HOME", (folder.path() / "home").string()},
          {"LINKFERRY_HOME", (folder.path() / "data").string()},
          {"XDG_CONFIG_HOME", (folder.path() / "home/.config").string()},
          {"XDG_DATA_HOME", (folder.path() / "share").string()},
          {"XDG_DATA_DIRS", (folder.path() / "none").string()},
          {"XDG_RUNTIME_DIR", (folder.path() / "run").string()},
          {"PATH", "/usr/bin:/bin"}};
}

// Listens where the service would and answers the requests of its first connection with
// `answers`, one line each, in order; then waits for the client to hang up.
class ScriptedService {
 public:
  ScriptedService(const std::map<std::string, std::string>& environment,
                  std::vector<std::string> answers) {
    std::filesystem::create_directories(environment.at("XDG_RUNTIME_DIR"));
    m_listener = HelperSocket::listen(ServiceClient::socketPath(environment), m_lock);
    m_thread = std::thread([this, answers = std::move(answers)] {
      pollfd entry{m_listener, POLLIN, 0};
      if (::poll(&entry, 1, 60'000) <= 0) return;
      const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
      std::string buffer;
      for (const std::string& answer : answers) {
        try {
          (void)SocketLines::receive(connection, buffer, 60s, SIZE_MAX, "the client");
          SocketLines::send(connection, answer + "\n", "cannot answer");
        } catch (const std::exception&) {
          break;  // the client hung up early
        }
      }
      char byte;
      while (::read(connection, &byte, 1) > 0) {
      }
      ::close(connection);
    });
  }
  ~ScriptedService() {
    m_thread.join();
    ::close(m_listener);
    ::close(m_lock);
  }

 private:
  int m_lock = -1;
  int m_listener = -1;
  std::thread m_thread;
};

// An index answer of `domains` registrable domains, each visited in one browser: about 150
// bytes a domain.
std::string indexAnswer(int domains) {
  JsonValue index = {{"builtAt", "2024-05-01T10:00:00Z"},
                     {"domains", JsonValue::object()},
                     {"issues", JsonValue::array()}};
  for (int i = 0; i < domains; ++i) {
    index["domains"]["site-" + std::to_string(i) + ".example"] = {
        {"sessions", JsonValue::array()},
        {"history", JsonValue::array({{{"target", {{"browser", "firefox"}}},
                                       {"lastVisit", "2024-04-30T08:00:00Z"},
                                       {"visits", i + 1}}})}};
  }
  return Json::encodeCompact({{"ok", true}, {"index", index}});
}

TEST(ServiceClient, LinkferryIndexShowsAServicesIndexLongerThanARequestLine) {
  TemporaryDirectory folder;
  const auto environment = environmentIn(folder);
  const std::string answer = indexAnswer(4000);
  ASSERT_GT(answer.size(), ServiceClient::kMaxLine);
  const std::string dataFolder =
      LinkferryPaths::defaultPaths(environment, folder.path() / "home").root.string();
  ScriptedService service(
      environment, {Json::encodeCompact({{"ok", true}, {"dataFolder", dataFolder}}), answer});

  Process::Options options;
  options.captureOutput = true;
  options.environment = environment;
  const Process::Result result =
      Process::run(testing::linkferryProgram().string(),
                   {"index", "--json", "--domain", "site-3999.example"}, options);
  EXPECT_EQ(result.exitStatus, 0) << result.standardError;
  EXPECT_EQ(result.standardError, "");
  const JsonValue shown = JsonValue::parse(result.standardOutput);
  EXPECT_EQ(shown["domains"]["site-3999.example"]["history"][0]["visits"], 4000)
      << result.standardOutput;
}

TEST(ServiceClient, SaysWhatIsWrongWithAnAnswerInItsOwnWords) {
  TemporaryDirectory folder;
  const auto environment = environmentIn(folder);
  ScriptedService service(
      environment, {R"({"ok": tru)", R"({"ok": "yes"})", R"([1])",
                    R"({"ok": false, "error": "no picker is waiting for x"})", R"({"ok": true})",
                    R"({"ok": true, "outcome": []})", indexAnswer(4000)});
  std::optional<ServiceClient::Connection> connection =
      ServiceClient::Connection::open(environment);
  ASSERT_TRUE(connection);
  const auto failure = [&]() -> std::string {
    try {
      const JsonValue answer = connection->exchange({{"request", "click"}}, 10s);
      (void)ClickOutcome::fromServiceAnswer(answer);
      return "no failure";
    } catch (const ServiceClient::Refused& refused) {
      return std::string("refused: ") + refused.what();
    } catch (const std::exception& error) {
      return error.what();
    }
  };
  EXPECT_TRUE(failure().starts_with("the service's answer: line 1, column "));
  EXPECT_EQ(failure(), "the service's answer: ok: expected a boolean, got a string");
  EXPECT_EQ(failure(), "the service's answer: expected an object, got an array");
  EXPECT_EQ(failure(), "refused: no picker is waiting for x");
  EXPECT_EQ(failure(), "the service's answer: missing key \"outcome\"");
  EXPECT_EQ(failure(), "the service's answer: outcome: expected an object, got an array");
  // Any answer but the index's is held to a request line's length.
  EXPECT_EQ(failure(), "the service's answer is too long");
}

TEST(ServiceClient, GivesUpConnectingToAServiceWhoseQueueStaysFull) {
  TemporaryDirectory folder;
  const auto environment = environmentIn(folder);
  std::filesystem::create_directories(folder.path() / "run");
  const std::filesystem::path socket = ServiceClient::socketPath(environment);
  int lock = -1;
  const int listener = HelperSocket::listen(socket, lock);
  // The shortest queue there is, filled by connections nobody accepts.
  ASSERT_EQ(::listen(listener, 0), 0);
  std::vector<int> waiting;
  for (int i = 0; i < 64; ++i) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket.c_str(), sizeof(address.sun_path) - 1);
    const bool queued =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    waiting.push_back(fd);
    if (!queued) break;
  }
  ASSERT_EQ(errno, EAGAIN);

  errno = 0;
  EXPECT_EQ(SocketLines::connect(socket, 100ms), -1);
  EXPECT_EQ(errno, ETIMEDOUT);
  EXPECT_FALSE(ServiceClient::Connection::open(environment));
  for (int fd : waiting) ::close(fd);
  ::close(listener);
  ::close(lock);
}

}  // namespace
}  // namespace linkferry
