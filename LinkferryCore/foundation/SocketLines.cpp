#include "foundation/SocketLines.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace linkferry::SocketLines {

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
  while (buffer.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) throw std::runtime_error(who + " did not answer in time");
    pollfd entry{descriptor, POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(left.count())) <= 0) continue;
    char chunk[16384];
    const ssize_t got = ::read(descriptor, chunk, sizeof(chunk));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) throw std::runtime_error(who + " closed the connection without an answer");
    buffer.append(chunk, static_cast<std::size_t>(got));
    if (buffer.size() > limit) throw std::runtime_error(who + "'s answer is too long");
  }
  const std::size_t newline = buffer.find('\n');
  std::string line = buffer.substr(0, newline);
  buffer.erase(0, newline + 1);
  return line;
}

}  // namespace linkferry::SocketLines
