#include "ServiceClient.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "launching/HelperSocket.h"

namespace linkferry::ServiceClient {

std::filesystem::path socketPath(const Environment& environment) {
  return HelperSocket::path(environment).parent_path() / "router.sock";
}

std::optional<Connection> Connection::open(const Environment& environment) {
  const std::filesystem::path path = socketPath(environment);
  // Never hand a link to a socket in a folder someone else could have put there.
  try {
    HelperSocket::prepareFolder(path);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  const int descriptor = HelperSocket::connect(path);
  if (descriptor < 0) return std::nullopt;
  ucred credentials{};
  socklen_t size = sizeof(credentials);
  if (::getsockopt(descriptor, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
      credentials.uid != ::getuid()) {
    ::close(descriptor);
    return std::nullopt;
  }
  return Connection(descriptor);
}

Connection::~Connection() {
  if (m_descriptor >= 0) ::close(m_descriptor);
}

JsonValue Connection::exchange(const JsonValue& request, std::chrono::milliseconds timeout) {
  const std::string line = Json::encodeCompact(request) + "\n";
  if (line.size() > kMaxLine) throw std::runtime_error("the request is too long");
  std::size_t sent = 0;
  while (sent < line.size()) {
    const ssize_t written = ::send(m_descriptor, line.data() + sent, line.size() - sent,
                                   MSG_NOSIGNAL);
    if (written < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error(std::string("cannot reach the service: ") + std::strerror(errno));
    }
    sent += static_cast<std::size_t>(written);
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (m_buffer.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) throw std::runtime_error("the service did not answer in time");
    pollfd entry{m_descriptor, POLLIN, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
    if (ready <= 0) continue;
    char buffer[16384];
    const ssize_t got = ::read(m_descriptor, buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) throw std::runtime_error("the service closed the connection without an answer");
    m_buffer.append(buffer, static_cast<std::size_t>(got));
    if (m_buffer.size() > kMaxLine) throw std::runtime_error("the service's answer is too long");
  }
  const std::size_t newline = m_buffer.find('\n');
  const std::string text = m_buffer.substr(0, newline);
  m_buffer.erase(0, newline + 1);
  JsonValue answer = JsonValue::parse(text, nullptr, false);
  if (answer.is_discarded() || !answer.is_object()) {
    throw std::runtime_error("the service's answer is not understood");
  }
  if (answer.value("ok", false) != true) {
    throw std::runtime_error(answer.value("error", std::string("the service refused the request")));
  }
  return answer;
}

}  // namespace linkferry::ServiceClient
