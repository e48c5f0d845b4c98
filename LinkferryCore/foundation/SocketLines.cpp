#include "foundation/SocketLines.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace linkferry::SocketLines {

int connect(const std::filesystem::path& path, std::chrono::milliseconds timeout) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string text = path.string();
  if (text.size() >= sizeof(address.sun_path)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
  const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (descriptor < 0) return -1;
  // A Unix socket's connect completes at once or, when the listener's queue is full, waits for
  // room; a non-blocking one would fail with EAGAIN and give nothing to poll for. The send
  // timeout bounds that wait instead (socket(7), SO_SNDTIMEO: connect honours it).
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int result = -1;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      errno = ETIMEDOUT;
      break;
    }
    timeval limit{static_cast<time_t>(left.count() / 1'000'000),
                  static_cast<suseconds_t>(left.count() % 1'000'000)};
    if (::setsockopt(descriptor, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit)) != 0) break;
    result = ::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    if (result == 0 || errno != EINTR) break;
  }
  if (result == 0) {
    // Later writes wait as long as they need, as on any other socket.
    const timeval none{0, 0};
    if (::setsockopt(descriptor, SOL_SOCKET, SO_SNDTIMEO, &none, sizeof(none)) == 0) {
      return descriptor;
    }
  }
  const int saved =
      (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINPROGRESS) ? ETIMEDOUT : errno;
  ::close(descriptor);
  errno = saved;
  return -1;
}

void send(int descriptor, std::string_view line, std::string_view failure) {
  std::size_t sent = 0;
  while (sent < line.size()) {
    const ssize_t written =
        ::send(descriptor, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
    if (written < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error(std::string(failure) + ": " + std::strerror(errno));
    }
    sent += static_cast<std::size_t>(written);
  }
}

std::string receive(int descriptor, std::string& buffer, std::chrono::milliseconds timeout,
                    std::size_t limit, std::string_view peer) {
  const std::string who(peer);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  // Only what arrives is searched, so a long answer costs its length once.
  std::size_t newline = buffer.find('\n');
  while (newline == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) throw std::runtime_error(who + " did not answer in time");
    pollfd entry{descriptor, POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(left.count())) <= 0) continue;
    char chunk[65536];
    const ssize_t got = ::read(descriptor, chunk, sizeof(chunk));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) throw std::runtime_error(who + " closed the connection without an answer");
    const std::size_t start = buffer.size();
    buffer.append(chunk, static_cast<std::size_t>(got));
    newline = buffer.find('\n', start);
    if ((newline == std::string::npos ? buffer.size() : newline + 1) > limit) {
      throw std::runtime_error(who + "'s answer is too long");
    }
  }
  std::string line = buffer.substr(0, newline);
  buffer.erase(0, newline + 1);
  return line;
}

}  // namespace linkferry::SocketLines
