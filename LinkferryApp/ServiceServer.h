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
class ServiceServer {
 public:
  // One request line (without its newline) and the client's process id in, the answer out.
  // Called on the workers, several at once; must not throw.
  using Handler = std::function<JsonValue(const std::string& line, int peerPid)>;

  struct Limits {
    // Exit after this long without a connection; zero: never.
    std::chrono::milliseconds idleExit{0};
    // A connection that sends no complete request for this long is closed.
    std::chrono::milliseconds requestTimeout{kDefaultRequestTimeout};
    // The longest request line, newline included; a longer one is answered with an error and its
    // connection closed.
    std::size_t maxLine = ServiceClient::kMaxLine;
    std::size_t workers = kDefaultWorkers;
  };
  static constexpr std::chrono::milliseconds kDefaultRequestTimeout{30'000};
  static constexpr std::size_t kDefaultWorkers = 4;

  // Starts the workers. `handler` must outlive this object.
  ServiceServer(Limits limits, Handler handler);
  // Lets the workers answer what they were given, then closes every connection.
  ~ServiceServer();
  ServiceServer(const ServiceServer&) = delete;
  ServiceServer& operator=(const ServiceServer&) = delete;

  // Serves `listener` until stop() or the idle exit.
  void run(int listener);
  // Safe from any thread and from a signal handler's thread.
  void stop();

 private:
  struct Connection;

  void accept(int descriptor);
  void readFrom(const std::shared_ptr<Connection>& connection);
  void dispatch(const std::shared_ptr<Connection>& connection, std::string line);
  void close(const std::shared_ptr<Connection>& connection);
  void armIdleExit();
  void work();

  const Limits m_limits;
  const Handler m_handler;

  EventLoop m_loop;
  std::size_t m_connections = 0;  // loop thread only
  std::optional<EventLoop::Token> m_idleTimer;

  std::mutex m_queueMutex;
  std::condition_variable m_queueReady;
  std::deque<std::function<void()>> m_queue;
  bool m_quit = false;
  std::vector<std::thread> m_workers;
};

}  // namespace linkferry
