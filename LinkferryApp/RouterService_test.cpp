// The service as its clients see it, in this process: clicks from several connections at once
// while one of them waits on a short link whose server never answers, or on browsers that keep
// running.
#include "RouterService.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "fixtures/NotificationServer.h"
#include "fixtures/RedirectServer.h"
#include "launching/HelperSocket.h"
#include "preparation/NetworkShortLinkExpander.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

using namespace std::chrono_literals;
using testing::NotificationServer;
using testing::RedirectServer;
using testing::TemporaryDirectory;

// One connection to the service: a request line out, its answer line back within `patience`.
class Client {
 public:
  explicit Client(const std::filesystem::path& socket) : m_fd(HelperSocket::connect(socket)) {}
  ~Client() {
    if (m_fd >= 0) ::close(m_fd);
  }
  void send(const JsonValue& request) {
    const std::string line = request.dump() + "\n";
    (void)::send(m_fd, line.data(), line.size(), MSG_NOSIGNAL);
  }
  // Whether an answer has arrived, without waiting for one.
  bool answered() const {
    pollfd entry{m_fd, POLLIN, 0};
    return ::poll(&entry, 1, 0) == 1;
  }
  // The next answer; null when none came within `patience`.
  JsonValue answer(std::chrono::milliseconds patience = 30s) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (m_buffer.find('\n') == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd entry{m_fd, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) != 1) return {};
      char bytes[65536];
      const ssize_t got = ::read(m_fd, bytes, sizeof bytes);
      if (got <= 0) return {};
      m_buffer.append(bytes, static_cast<std::size_t>(got));
    }
    const std::string line = m_buffer.substr(0, m_buffer.find('\n'));
    m_buffer.erase(0, line.size() + 1);
    return JsonValue::parse(line);
  }

 private:
  int m_fd;
  std::string m_buffer;
};

// A service serving `socket` on a thread of its own until it goes.
struct RunningService {
  RunningService(const RouterService::Options& options, std::filesystem::path path)
      : socket(std::move(path)),
        listener(HelperSocket::listen(socket, lock)),
        service(options),
        serving([this] { service.run(listener); }) {}
  ~RunningService() {
    service.stop();
    serving.join();
    ::close(lock);
  }
  const std::filesystem::path socket;
  int lock = -1;
  const int listener;
  RouterService service;
  std::thread serving;
};

JsonValue dryClick(const std::string& link) {
  return {{"request", "click"}, {"url", link}, {"dryRun", true}};
}

// A service in `folder` whose one browser "alpha" is `browser` and which opens every link there.
RouterService::Options serviceIn(TemporaryDirectory& folder, const std::filesystem::path& browser) {
  folder.write("data/browsers.json", R"([{"id": "alpha", "name": "Alpha", "family": "firefox",)"
                                     R"( "appPath": ")" + browser.string() + R"("}])");
  folder.write("data/settings.json", R"({"defaultBrowser": "alpha"})");
  folder.write("data/rules.json",
               R"({"version": 1, "rules": [{"name": "All", "match": {"host": "*"},)"
               R"( "action": {"open": {"browser": "alpha"}}}]})");
  RouterService::Options options;
  options.home = folder.path() / "home";
  options.environment = {{"HOME", options.home.string()},
                         {"LINKFERRY_HOME", (folder.path() / "data").string()},
                         {"XDG_DATA_HOME", (folder.path() / "share").string()},
                         {"XDG_DATA_DIRS", (folder.path() / "none").string()},
                         {"XDG_CONFIG_HOME", (folder.path() / "config").string()},
                         {"PATH", (folder.path() / "bin").string() + ":/usr/bin:/bin"}};
  options.readSignals = false;
  return options;
}

TEST(RouterService, AShortLinkWhoseServerNeverAnswersHoldsUpNoOtherClickAndNoStatus) {
  auto server = std::make_unique<RedirectServer>(JsonValue{{"bit.ly/stall", {{"stall", true}}}});
  TemporaryDirectory folder;
  RouterService::Options options = serviceIn(folder, "/bin/true");
  // Far longer than the test waits for anything: the click can only end when the server goes.
  options.expander =
      std::make_shared<NetworkShortLinkExpander>(5, 10min, server->configuration());
  const RunningService service(options, folder.path() / "router.sock");
  const std::filesystem::path& socket = service.socket;

  Client waiting(socket);
  waiting.send(dryClick(server->origin("bit.ly") + "/stall"));
  // The short link is being followed once the server holds its request.
  ASSERT_EQ(server->requests(1, 60s).size(), 1u);
  Client other(socket);
  for (int click = 0; click < 3; ++click) {
    other.send(dryClick("https://plain.example/" + std::to_string(click)));
    const JsonValue answer = other.answer();
    ASSERT_TRUE(answer.is_object()) << "a plain click waited for the short link";
    EXPECT_EQ(answer["outcome"]["status"], "opened");
  }
  Client status(socket);
  status.send({{"request", "status"}});
  EXPECT_EQ(status.answer()["ok"], true);
  EXPECT_FALSE(waiting.answered());

  // The server goes away: the short link's request fails and its click is answered.
  server.reset();
  const JsonValue answer = waiting.answer();
  ASSERT_TRUE(answer.is_object());
  EXPECT_EQ(answer["outcome"]["status"], "opened");
}

// Nobody who clicked waits for a browser that keeps running, however many run at once; one that
// fails after its click was answered is still reported, to the log and as a notification.
TEST(RouterService, AClickIsAnsweredOnceItsBrowserRunsAndALaterFailureIsNotified) {
  TemporaryDirectory folder;
  const std::filesystem::path release = folder.path() / "release";
  // Runs until the test lets it go, then fails as a browser whose profile is taken does.
  folder.write("alpha", "#!/bin/sh\nwhile [ ! -e '" + release.string() +
                            "' ]; do sleep 0.02; done\necho 'profile is locked' >&2\nexit 1\n");
  std::filesystem::permissions(folder.path() / "alpha", std::filesystem::perms::owner_all);
  NotificationServer notifications(folder.path());
  RouterService::Options options = serviceIn(folder, folder.path() / "alpha");
  for (const auto& [name, value] : notifications.environment()) options.environment[name] = value;
  // The browsers fail only when the test says, so the whole failure falls within the window.
  options.launchWindow = 10min;
  const RunningService service(options, folder.path() / "router.sock");
  const std::filesystem::path& socket = service.socket;

  // More clicks than the service has workers, each browser still running.
  constexpr int kClicks = static_cast<int>(ServiceServer::kDefaultWorkers) + 2;
  std::vector<std::unique_ptr<Client>> clients;
  for (int click = 0; click < kClicks; ++click) {
    clients.push_back(std::make_unique<Client>(socket));
    clients.back()->send({{"request", "click"}, {"url", "https://a.test/" + std::to_string(click)}});
  }
  for (auto& client : clients) {
    const JsonValue answer = client->answer();
    ASSERT_TRUE(answer.is_object()) << "a click waited for its browser";
    EXPECT_EQ(answer["outcome"]["status"], "opened");
    EXPECT_EQ(answer["outcome"]["target"], "Alpha");
  }
  // A connection's next click does not wait for the browser of its last one either.
  clients.front()->send({{"request", "click"}, {"url", "https://a.test/again"}});
  EXPECT_EQ(clients.front()->answer()["outcome"]["status"], "opened");
  EXPECT_TRUE(notifications.notices().empty());
  Client status(socket);
  status.send({{"request", "status"}});
  EXPECT_EQ(status.answer()["ok"], true);

  folder.write("release", "");
  // One notification per click, each naming its own link.
  const auto notices = notifications.notices(kClicks + 1, 60s);
  ASSERT_EQ(notices.size(), static_cast<std::size_t>(kClicks + 1));
  bool first = false;
  for (const NotificationServer::Notice& notice : notices) {
    EXPECT_EQ(notice.appName, "LinkFerry");
    EXPECT_EQ(notice.summary, "Could not open the link");
    first = first || notice.body == "https://a.test/0\nCould not open in Alpha: exited with "
                                    "status 1: profile is locked";
  }
  EXPECT_TRUE(first) << notices.front().body;
}

}  // namespace
}  // namespace linkferry
