#include "ServiceServer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <utility>

namespace linkferry {

namespace {

constexpr std::chrono::milliseconds kSendTimeout{2000};

// Sends all of `text` within the send timeout; false when the client does not take it.
bool sendAll(int descriptor, const std::string& text) {
  const auto deadline = std::chrono::steady_clock::now() + kSendTimeout;
  std::size_t sent = 0;
  while (sent < text.size()) {
    const ssize_t written =
        ::send(descriptor, text.data() + sent, text.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (written > 0) {
      sent += static_cast<std::size_t>(written);
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd entry{descriptor, POLLOUT, 0};
      (void)::poll(&entry, 1, static_cast<int>(left.count()));
      continue;
    }
    return false;
  }
  return true;
}

}  // namespace

struct ServiceServer::Connection {
  int descriptor = -1;
  int peerPid = 0;
  std::string buffer;
  bool peerClosed = false;
  // A request is with the workers: the connection is not watched and is never closed for room
  // until its answer is sent.
  bool answering = false;
  // Set by the worker as it sends the answer: from then on the connection waits for its next
  // request (since `waitingSince`) and may be closed for room, even before the loop hears of it,
  // which a busy machine may delay past the client's next moves.
  std::atomic<bool> answerSent = false;
  // Closed for room while a worker may still be sending on it: shut down, so the client sees the
  // end, but the descriptor is released only when the worker has handed the connection back.
  bool shutDown = false;
  // Whether the deadline is that of a request under way (set at the first byte) or of the wait
  // for the next one.
  bool requestBegun = false;
  EventLoop::Clock::time_point waitingSince;
  EventLoop::Clock::time_point deadline;
};

ServiceServer::ServiceServer(Limits limits, Handler handler)
    : m_limits(limits), m_handler(std::move(handler)) {
  // This server keeps its own limits by closing connections, so it accepts every one at once.
  m_loop.limitAccepting(SIZE_MAX);
  for (std::size_t i = 0; i < m_limits.workers; ++i) m_workers.emplace_back([this] { work(); });
}

ServiceServer::~ServiceServer() {
  {
    std::lock_guard lock(m_queueMutex);
    m_quit = true;
  }
  m_queueReady.notify_all();
  // No worker is added once m_quit is set, so the list holds still.
  for (std::thread& worker : m_workers) worker.join();
  for (const auto& connection : m_connections) {
    if (connection->descriptor >= 0) ::close(connection->descriptor);
  }
}

void ServiceServer::run(int listener) {
  // Listening again only changes the queue's length (the socket may come from the service
  // manager, which chose its own).
  if (listener >= 0) (void)::listen(listener, kBacklog);
  armIdleExit();
  m_loop.run(listener, [this](int descriptor) { accept(descriptor); });
}

void ServiceServer::stop() {
  m_loop.terminate();
}

void ServiceServer::quit(std::function<void()> release) {
  m_loop.post([this, release = std::move(release)] {
    if (m_quitting) return;
    m_quitting = true;
    m_loop.limitAccepting(0);
    if (m_idleTimer) {
      m_loop.cancel(*m_idleTimer);
      m_idleTimer.reset();
    }
    if (release) release();
    // Those being answered go once their answer is sent (awaitRequest).
    const std::vector<std::shared_ptr<Connection>> open = m_connections;
    for (const auto& connection : open) {
      if (!connection->answering) close(connection);
    }
    if (m_connections.empty()) m_loop.terminate();
  });
}

void ServiceServer::armIdleExit() {
  if (m_quitting) {
    if (m_connections.empty()) m_loop.terminate();
    return;
  }
  if (m_limits.idleExit.count() <= 0 || !m_connections.empty()) return;
  if (m_idleTimer) m_loop.cancel(*m_idleTimer);
  m_idleTimer = m_loop.schedule(m_limits.idleExit, [this] {
    m_idleTimer.reset();
    if (m_connections.empty()) m_loop.terminate();
  });
}

void ServiceServer::accept(int descriptor) {
  ucred credentials{};
  socklen_t size = sizeof(credentials);
  if (::getsockopt(descriptor, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
      credentials.uid != ::getuid()) {
    ::close(descriptor);
    return;
  }
  if (m_idleTimer) {
    m_loop.cancel(*m_idleTimer);
    m_idleTimer.reset();
  }
  auto connection = std::make_shared<Connection>();
  connection->descriptor = descriptor;
  connection->peerPid = credentials.pid;
  // The first request's time runs from the connection's start.
  connection->requestBegun = true;
  connection->waitingSince = EventLoop::Clock::now();
  connection->deadline = connection->waitingSince + m_limits.requestTimeout;
  m_connections.push_back(connection);
  const int pid = credentials.pid;
  keepWithin(m_limits.maxConnectionsPerClient,
             [pid](const Connection& other) { return other.peerPid == pid; });
  keepWithin(m_limits.maxConnections, [](const Connection&) { return true; });
  // The new connection itself goes when every other one is being answered.
  if (connection->descriptor >= 0) readFrom(connection);
}

void ServiceServer::keepWithin(std::size_t limit,
                               const std::function<bool(const Connection&)>& counted) {
  for (;;) {
    std::size_t count = 0;
    std::shared_ptr<Connection> oldest;
    for (const auto& connection : m_connections) {
      if (!counted(*connection)) continue;
      ++count;
      const bool idle = !connection->answering || connection->answerSent.load();
      if (idle && (!oldest || connection->waitingSince < oldest->waitingSince)) {
        oldest = connection;
      }
    }
    if (count <= limit || !oldest) return;
    close(oldest);
  }
}

void ServiceServer::awaitRequest(const std::shared_ptr<Connection>& connection) {
  connection->answering = false;
  if (m_quitting) {
    close(connection);
    return;
  }
  connection->deadline = connection->waitingSince + m_limits.requestTimeout;
  // Bytes already here began the next request; otherwise its time starts at its first byte.
  connection->requestBegun = !connection->buffer.empty();
  readFrom(connection);
}

void ServiceServer::readFrom(const std::shared_ptr<Connection>& connection) {
  if (const auto newline = connection->buffer.find('\n'); newline != std::string::npos) {
    std::string line = connection->buffer.substr(0, newline);
    connection->buffer.erase(0, newline + 1);
    dispatch(connection, std::move(line));
    return;
  }
  if (connection->buffer.size() >= m_limits.maxLine) {
    // Nothing after an overlong line can be trusted to start a request: answer and hang up.
    const JsonValue refusal = {
        {"ok", false},
        {"error", "the request is longer than " + std::to_string(m_limits.maxLine) + " bytes"}};
    (void)sendAll(connection->descriptor, Json::encodeCompact(refusal) + "\n");
    close(connection);
    return;
  }
  if (connection->peerClosed) {
    close(connection);
    return;
  }
  m_loop.watch(connection->descriptor, connection->deadline, [this, connection](bool readable) {
    if (connection->descriptor < 0) return;
    if (!readable) {
      close(connection);
      return;
    }
    const std::size_t before = connection->buffer.size();
    while (connection->buffer.size() < m_limits.maxLine) {
      char bytes[16384];
      const ssize_t got = ::read(connection->descriptor, bytes, sizeof(bytes));
      if (got > 0) {
        const std::size_t start = connection->buffer.size();
        connection->buffer.append(bytes, static_cast<std::size_t>(got));
        if (connection->buffer.find('\n', start) != std::string::npos) break;
      } else if (got < 0 && errno == EINTR) {
        continue;
      } else if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        break;
      } else {
        connection->peerClosed = true;
        break;
      }
    }
    if (!connection->requestBegun && connection->buffer.size() > before) {
      // A request's first byte: from now on its time only runs down.
      connection->requestBegun = true;
      connection->deadline = EventLoop::Clock::now() + m_limits.requestTimeout;
    }
    readFrom(connection);
  });
}

void ServiceServer::dispatch(const std::shared_ptr<Connection>& connection, std::string line) {
  connection->answering = true;
  connection->answerSent = false;
  {
    std::lock_guard lock(m_queueMutex);
    m_queue.push_back([this, connection, line = std::move(line)] {
      // Set before sending, not when the loop hears of it, so that whatever the client does
      // after reading its answer finds this connection waiting since before (the loop reads it
      // only once the connection is no longer answering).
      const auto send = [&connection](const JsonValue& answer) {
        const std::string text = Json::encodeCompact(answer) + "\n";
        connection->waitingSince = EventLoop::Clock::now();
        connection->answerSent = true;
        return sendAll(connection->descriptor, text);
      };
      // Once answered, the connection goes back to the loop for its next request.
      const auto handBack = [this, &connection](bool sent) {
        m_loop.post([this, connection, sent] {
          if (connection->shutDown) {
            ::close(connection->descriptor);
            connection->descriptor = -1;
            return;
          }
          if (sent) {
            awaitRequest(connection);
          } else {
            close(connection);
          }
        });
      };
      bool answeredEarly = false;
      const Reply early = [&](const JsonValue& answer) {
        if (answeredEarly) return;
        answeredEarly = true;
        lingerBegins();
        // From here on this worker leaves the connection alone: it may serve another request.
        handBack(send(answer));
      };
      const JsonValue answer = m_handler(line, connection->peerPid, early);
      if (answeredEarly) {
        lingerEnds();
      } else {
        handBack(send(answer));
      }
    });
  }
  m_queueReady.notify_one();
}

void ServiceServer::close(const std::shared_ptr<Connection>& connection) {
  if (connection->descriptor < 0 || connection->shutDown) return;
  m_loop.unwatch(connection->descriptor);
  if (connection->answering) {
    // A worker may be writing to it: its number must not be reused until it is handed back.
    ::shutdown(connection->descriptor, SHUT_RDWR);
    connection->shutDown = true;
  } else {
    ::close(connection->descriptor);
    connection->descriptor = -1;
  }
  // `connection` may be the list's own element: the list is searched by address.
  const Connection* closed = connection.get();
  std::erase_if(m_connections, [closed](const auto& open) { return open.get() == closed; });
  armIdleExit();
}

void ServiceServer::lingerBegins() {
  std::lock_guard lock(m_queueMutex);
  ++m_lingering;
  const std::size_t wanted = m_limits.workers + std::min(m_lingering, kMaxLingering);
  if (!m_quit && m_workers.size() < wanted) m_workers.emplace_back([this] { work(); });
}

void ServiceServer::lingerEnds() {
  std::lock_guard lock(m_queueMutex);
  --m_lingering;
}

void ServiceServer::work() {
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock lock(m_queueMutex);
      m_queueReady.wait(lock, [this] { return m_quit || !m_queue.empty(); });
      if (m_queue.empty()) return;
      task = std::move(m_queue.front());
      m_queue.pop_front();
    }
    task();
  }
}

}  // namespace linkferry
