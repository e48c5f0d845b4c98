#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ServiceClient.h"
#include "foundation/EventLoop.h"
#include "foundation/Json.h"

namespace linkferry {

// The socket side of `linkferry serve`: accepts connections on a listening Unix socket, reads
// newline-terminated request lines and hands each to the handler on a worker thread, then sends
// the handler's answer as one line. What a request means is the handler's business
// (ServiceProtocol).
//
// Threads: one event loop reads requests from every connection without ever waiting for one, and
// a few workers answer them, so a silent or slow client delays nobody. Each connection's requests
// are answered in order, one at a time.
//
// Limits, so that a click always finds a place within its own timeout however many connections
// other programs hold open or feed a byte at a time: every request must be complete within the
// request timeout, counted from the connection's start for the first request and from its first
// byte for later ones (an idle connection between requests gets the same time), never extended
// by partial data. Connections are accepted as soon as they arrive; beyond the cap per client
// process (by SO_PEERCRED) or in all, the longest-waiting connection not being answered is
// closed first (the client's own first, for the cap per client), which is the new one only when
// every other is being answered.
class ServiceServer {
 public:
  // Sends a request's answer at once, before its handler returns; the handler's own return is
  // then dropped. Only the first call counts.
  using Reply = std::function<void(const JsonValue& answer)>;
  // One request line (without its newline) and the client's process id in, the answer out.
  // Called on the workers, several at once; must not throw. A handler that answers early (its
  // click's browser started, its launch still being judged) goes on without holding up other
  // requests, its own connection's next one included: the pool gains a worker for as long as it
  // does, up to kMaxLingering of them.
  using Handler =
      std::function<JsonValue(const std::string& line, int peerPid, const Reply& early)>;

  struct Limits {
    // Exit after this long without a connection; zero: never.
    std::chrono::milliseconds idleExit{0};
    // A request not complete this long after it began closes its connection (see above).
    std::chrono::milliseconds requestTimeout{kDefaultRequestTimeout};
    // The longest request line, newline included; a longer one is answered with an error and its
    // connection closed.
    std::size_t maxLine = ServiceClient::kMaxLine;
    std::size_t workers = kDefaultWorkers;
    // Connections kept open at once, in all and per client process.
    std::size_t maxConnections = kDefaultMaxConnections;
    std::size_t maxConnectionsPerClient = kDefaultMaxConnectionsPerClient;
  };
  static constexpr std::chrono::milliseconds kDefaultRequestTimeout{30'000};
  static constexpr std::size_t kDefaultMaxConnections = 256;
  static constexpr std::size_t kDefaultMaxConnectionsPerClient = 32;
  // The listen queue asked for (the kernel caps it at net.core.somaxconn): a burst of clicks
  // waits there for a moment instead of being refused.
  static constexpr int kBacklog = 4096;
  static constexpr std::size_t kDefaultWorkers = 4;
  static constexpr std::size_t kMaxLingering = 64;

  // Starts the workers. `handler` must outlive this object.
  ServiceServer(Limits limits, Handler handler);
  // Lets the workers answer what they were given, then closes every connection.
  ~ServiceServer();
  ServiceServer(const ServiceServer&) = delete;
  ServiceServer& operator=(const ServiceServer&) = delete;

  // Serves `listener` until stop() or the idle exit. Its listen queue is enlarged to kBacklog.
  void run(int listener);
  // Safe from any thread and from a signal handler's thread.
  void stop();
  // Takes no further connection, calls `release` on the loop's thread (to give the socket's path
  // up for the next server) and ends run() once every request under way is answered; connections
  // waiting for their next request are closed, so a client still connected learns that the
  // socket is free when its connection ends. Safe from any thread; only the first call counts.
  void quit(std::function<void()> release);

 private:
  struct Connection;

  void accept(int descriptor);
  // Closes the longest-waiting connection not being answered among those `counted` when more
  // than `limit` of them are open.
  void keepWithin(std::size_t limit, const std::function<bool(const Connection&)>& counted);
  void awaitRequest(const std::shared_ptr<Connection>& connection);
  void readFrom(const std::shared_ptr<Connection>& connection);
  void dispatch(const std::shared_ptr<Connection>& connection, std::string line);
  void close(const std::shared_ptr<Connection>& connection);
  void armIdleExit();
  void work();
  // A worker answered early and goes on with its request: another takes its place.
  void lingerBegins();
  void lingerEnds();

  const Limits m_limits;
  const Handler m_handler;

  EventLoop m_loop;
  std::vector<std::shared_ptr<Connection>> m_connections;  // loop thread only, oldest first
  std::optional<EventLoop::Token> m_idleTimer;
  bool m_quitting = false;  // loop thread only

  std::mutex m_queueMutex;
  std::condition_variable m_queueReady;
  std::deque<std::function<void()>> m_queue;
  bool m_quit = false;
  std::size_t m_lingering = 0;
  std::vector<std::thread> m_workers;  // grows, never shrinks, while lingering workers need it
};

}  // namespace linkferry
