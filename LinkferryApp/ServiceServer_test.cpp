// The service's socket side over a real Unix socket in a temporary folder, with a handler that
// echoes each request line and small limits, so that a deadline or a cap is reached at once.
#include "ServiceServer.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include "launching/HelperSocket.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

using namespace std::chrono_literals;

// A generous bound for what must happen at once: reached only when the server is wrong.
constexpr auto kBound = 30s;

class RunningServer {
 public:
  explicit RunningServer(ServiceServer::Limits limits)
      : m_server(limits, [](const std::string& line, int, const ServiceServer::Reply&) {
          return JsonValue{{"echo", line}};
        }) {
    m_listener = HelperSocket::listen(socket(), m_lock);
    m_thread = std::thread([this] { m_server.run(m_listener); });
  }
  ~RunningServer() {
    m_server.stop();
    m_thread.join();
    ::close(m_listener);
    ::close(m_lock);
  }
  std::filesystem::path socket() const { return m_folder.path() / "run/s.sock"; }

 private:
  testing::TemporaryDirectory m_folder;
  ServiceServer m_server;
  int m_lock = -1;
  int m_listener = -1;
  std::thread m_thread;
};

class Client {
 public:
  explicit Client(const RunningServer& server) : Client(server.socket()) {}
  explicit Client(const std::filesystem::path& socket) : m_fd(HelperSocket::connect(socket)) {}
  ~Client() {
    if (m_fd >= 0) ::close(m_fd);
  }
  void send(const std::string& text) { (void)::send(m_fd, text.data(), text.size(), MSG_NOSIGNAL); }
  // The echo of the next answer; "closed" when the connection ended first.
  std::string answer() {
    for (;;) {
      if (auto newline = m_buffer.find('\n'); newline != std::string::npos) {
        const JsonValue answer = JsonValue::parse(m_buffer.substr(0, newline));
        m_buffer.erase(0, newline + 1);
        return answer.value("echo", answer.dump());
      }
      if (!waitReadable(kBound)) return "no answer in time";
      char bytes[4096];
      const ssize_t got = ::read(m_fd, bytes, sizeof(bytes));
      if (got <= 0) return "closed";
      m_buffer.append(bytes, static_cast<std::size_t>(got));
    }
  }
  std::string ask(const std::string& line) {
    send(line + "\n");
    return answer();
  }
  // Waits for the server to close the connection, sending one more byte of a request that never
  // ends whenever `trickle` passes without a word from it; false when the bound passed first.
  bool closedByServer(std::optional<std::chrono::milliseconds> trickle = std::nullopt) {
    const auto until = std::chrono::steady_clock::now() + kBound;
    while (std::chrono::steady_clock::now() < until) {
      if (!waitReadable(trickle.value_or(kBound))) {
        if (trickle) send(" ");
        continue;
      }
      char bytes[4096];
      if (::read(m_fd, bytes, sizeof(bytes)) <= 0) return true;
    }
    return false;
  }

 private:
  bool waitReadable(std::chrono::milliseconds timeout) {
    pollfd entry{m_fd, POLLIN, 0};
    return ::poll(&entry, 1, static_cast<int>(timeout.count())) > 0;
  }
  int m_fd;
  std::string m_buffer;
};

TEST(ServiceServer, ClosesATricklingOrSilentClientAtItsDeadlineAndAnswersTheOthers) {
  ServiceServer::Limits limits;
  limits.requestTimeout = 1s;
  RunningServer server(limits);
  bool trickled = false, silent = false, idleThenTrickled = false;
  std::thread tricklers([&] {
    Client trickler(server);
    trickler.send("{\"request\":");
    trickled = trickler.closedByServer(50ms);
    silent = Client(server).closedByServer();
    // After an answer the next request's time starts at its first byte, and is not extended.
    Client idle(server);
    if (idle.ask("first") == "first") {
      idle.send("{");
      idleThenTrickled = idle.closedByServer(50ms);
    }
  });
  // Meanwhile a client sending its request in pieces is answered, again and again.
  Client client(server);
  for (int i = 0; i < 20; ++i) {
    client.send("{\"n\":");
    EXPECT_EQ(client.ask(std::to_string(i) + "}"), "{\"n\":" + std::to_string(i) + "}");
  }
  tricklers.join();
  EXPECT_TRUE(trickled);
  EXPECT_TRUE(silent);
  EXPECT_TRUE(idleThenTrickled);
  EXPECT_EQ(Client(server).ask("late"), "late");
}

TEST(ServiceServer, AtTheCapANewClientIsAnsweredAndTheLongestWaitingConnectionGoes) {
  ServiceServer::Limits limits;
  limits.maxConnections = 3;
  limits.maxConnectionsPerClient = 3;
  RunningServer server(limits);
  // Each one waits from its answer or from its start, and starts after the one before answered.
  Client first(server);
  EXPECT_EQ(first.ask("1"), "1");
  Client second(server);
  EXPECT_EQ(second.ask("2"), "2");
  Client third(server);
  third.send("half a request, ");
  Client fourth(server);
  EXPECT_EQ(fourth.ask("4"), "4");
  EXPECT_TRUE(first.closedByServer());
  EXPECT_EQ(third.ask("then the rest"), "half a request, then the rest");
  // Now `second` has waited longest.
  EXPECT_EQ(Client(server).ask("5"), "5");
  EXPECT_TRUE(second.closedByServer());
  EXPECT_EQ(third.ask("3"), "3");
}

TEST(ServiceServer, AClientsFloodClosesItsOwnConnectionsBeforeAnyOtherClients) {
  ServiceServer::Limits limits;
  limits.maxConnections = 4;
  limits.maxConnectionsPerClient = 2;
  RunningServer server(limits);
  Client mine(server);
  ASSERT_EQ(mine.ask("mine"), "mine");

  // Another process opens six connections and holds them until told to go. Only system calls
  // after fork: this process has threads.
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, server.socket().c_str(), sizeof(address.sun_path) - 1);
  int connected[2], release[2];
  ASSERT_EQ(::pipe(connected), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t flooder = ::fork();
  ASSERT_GE(flooder, 0);
  if (flooder == 0) {
    ::close(release[1]);
    for (int i = 0; i < 6; ++i) {
      const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
      (void)::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    }
    (void)::write(connected[1], "x", 1);
    char byte;
    (void)::read(release[0], &byte, 1);
    ::_exit(0);
  }
  ::close(connected[1]);
  ::close(release[0]);
  char byte;
  ASSERT_EQ(::read(connected[0], &byte, 1), 1);

  // Accepted after the flood (the listen queue keeps the order), and answered; and the oldest
  // connection of all, this process's, is still open.
  EXPECT_EQ(Client(server).ask("new"), "new");
  EXPECT_EQ(mine.ask("still here"), "still here");
  ::close(release[1]);
  ::close(connected[0]);
  ::waitpid(flooder, nullptr, 0);
}

// What a client of another build relies on when it asks the service to make way: the quit is
// answered, the socket given up before the asking connection ends, a request under way still
// answered, idle connections closed, and run() returns only after that request.
TEST(ServiceServer, AQuitGivesTheSocketUpAtOnceAndEndsOnlyWhenTheRequestUnderWayIsAnswered) {
  testing::TemporaryDirectory folder;
  const auto socket = folder.path() / "run/s.sock";
  std::promise<void> gate;
  std::shared_future<void> opened = gate.get_future().share();
  std::promise<void> slowArrived;
  std::atomic<bool> released = false;
  std::unique_ptr<ServiceServer> server;
  server = std::make_unique<ServiceServer>(
      ServiceServer::Limits{},
      [&](const std::string& line, int, const ServiceServer::Reply& early) -> JsonValue {
        if (line == "slow") {
          slowArrived.set_value();
          opened.wait();
        } else if (line == "quit") {
          early({{"echo", "quitting"}});
          server->quit([&] {
            ::unlink(socket.c_str());
            released = true;
          });
        }
        return {{"echo", line}};
      });
  int lock = -1;
  const int listener = HelperSocket::listen(socket, lock);
  std::atomic<bool> returned = false;
  std::thread loop([&] {
    server->run(listener);
    returned = true;
  });

  Client slow(socket);
  slow.send("slow\n");
  slowArrived.get_future().wait();
  Client idle(socket);
  EXPECT_EQ(idle.ask("hello"), "hello");
  Client asking(socket);
  EXPECT_EQ(asking.ask("quit"), "quitting");
  EXPECT_TRUE(asking.closedByServer());
  EXPECT_TRUE(released);
  EXPECT_TRUE(idle.closedByServer());
  EXPECT_LT(HelperSocket::connect(socket), 0);
  EXPECT_FALSE(returned);

  gate.set_value();
  EXPECT_EQ(slow.answer(), "slow");
  EXPECT_TRUE(slow.closedByServer());
  loop.join();
  EXPECT_TRUE(returned);
  server.reset();
  ::close(listener);
  ::close(lock);
}

}  // namespace
}  // namespace linkferry
