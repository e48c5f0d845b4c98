#include "ServiceServer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
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
};

ServiceServer::ServiceServer(Limits limits, Handler handler)
    : m_limits(limits), m_handler(std::move(handler)) {
  for (std::size_t i = 0; i < m_limits.workers; ++i) m_workers.emplace_back([this] { work(); });
}

ServiceServer::~ServiceServer() {
  {
    std::lock_guard lock(m_queueMutex);
    m_quit = true;
  }
  m_queueReady.notify_all();
  for (std::thread& worker : m_workers) worker.join();
}

void ServiceServer::run(int listener) {
  armIdleExit();
  m_loop.run(listener, [this](int descriptor) { accept(descriptor); });
}

void ServiceServer::stop() {
  m_loop.terminate();
}

void ServiceServer::armIdleExit() {
  if (m_limits.idleExit.count() <= 0 || m_connections > 0) return;
  if (m_idleTimer) m_loop.cancel(*m_idleTimer);
  m_idleTimer = m_loop.schedule(m_limits.idleExit, [this] {
    m_idleTimer.reset();
    if (m_connections == 0) m_loop.terminate();
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
  ++m_connections;
  if (m_idleTimer) {
    m_loop.cancel(*m_idleTimer);
    m_idleTimer.reset();
  }
  auto connection = std::make_shared<Connection>();
  connection->descriptor = descriptor;
  connection->peerPid = credentials.pid;
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
  m_loop.watch(connection->descriptor, EventLoop::Clock::now() + m_limits.requestTimeout,
               [this, connection](bool readable) {
                 if (!readable) {
                   close(connection);
                   return;
                 }
                 while (connection->buffer.size() < m_limits.maxLine) {
                   char bytes[16384];
                   const ssize_t got = ::read(connection->descriptor, bytes, sizeof(bytes));
                   if (got > 0) {
                     connection->buffer.append(bytes, static_cast<std::size_t>(got));
                     if (connection->buffer.find('\n') != std::string::npos) break;
                   } else if (got < 0 && errno == EINTR) {
                     continue;
                   } else if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                     break;
                   } else {
                     connection->peerClosed = true;
                     break;
                   }
                 }
                 readFrom(connection);
               });
}

void ServiceServer::dispatch(const std::shared_ptr<Connection>& connection, std::string line) {
  {
    std::lock_guard lock(m_queueMutex);
    m_queue.push_back([this, connection, line = std::move(line)] {
      const std::string text = Json::encodeCompact(m_handler(line, connection->peerPid)) + "\n";
      const bool sent = sendAll(connection->descriptor, text);
      m_loop.post([this, connection, sent] {
        if (sent) {
          readFrom(connection);
        } else {
          close(connection);
        }
      });
    });
  }
  m_queueReady.notify_one();
}

void ServiceServer::close(const std::shared_ptr<Connection>& connection) {
  if (connection->descriptor < 0) return;
  ::close(connection->descriptor);
  connection->descriptor = -1;
  --m_connections;
  armIdleExit();
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
