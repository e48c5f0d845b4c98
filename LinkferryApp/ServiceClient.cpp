#include "ServiceClient.h"

#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "foundation/SocketLines.h"
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
  SocketLines::send(m_descriptor, line, "cannot reach the service");
  const std::string text =
      SocketLines::receive(m_descriptor, m_buffer, timeout, kMaxLine, "the service");
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
