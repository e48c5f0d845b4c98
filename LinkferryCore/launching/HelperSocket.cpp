#include "launching/HelperSocket.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "foundation/SocketLines.h"

namespace linkferry::HelperSocket {

namespace {

std::string flattened(const std::string& text) {
  std::string result = text;
  for (char& c : result) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return result;
}

}  // namespace

std::filesystem::path path(const Environment& environment) {
  const auto runtime = environment.find("XDG_RUNTIME_DIR");
  if (runtime != environment.end() && !runtime->second.empty() && runtime->second[0] == '/') {
    return std::filesystem::path(runtime->second) / "linkferry" / "helper.sock";
  }
  return std::filesystem::path("/tmp/linkferry-" + std::to_string(::getuid())) / "helper.sock";
}

void prepareFolder(const std::filesystem::path& socketPath) {
  const std::filesystem::path folder = socketPath.parent_path();
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    throw std::runtime_error("cannot create " + folder.string() + ": " + std::strerror(errno));
  }
  struct stat status {};
  if (::lstat(folder.c_str(), &status) != 0) {
    throw std::runtime_error("cannot read " + folder.string() + ": " + std::strerror(errno));
  }
  if (!S_ISDIR(status.st_mode)) throw std::runtime_error(folder.string() + " is not a folder");
  if (status.st_uid != ::getuid()) {
    throw std::runtime_error(folder.string() + " belongs to another user");
  }
  if ((status.st_mode & 077) != 0) {
    throw std::runtime_error(folder.string() + " is open to other users");
  }
}

std::string answerLine(Answer::Status status, const std::string& message) {
  switch (status) {
    case Answer::Status::done:
      return "done";
    case Answer::Status::refused:
      return "refused: " + flattened(message);
    case Answer::Status::failed:
      return "failed: " + flattened(message);
  }
  return "failed: " + flattened(message);
}

std::optional<Answer> parseAnswer(const std::string& line) {
  if (line == "done") return Answer{Answer::Status::done, {}};
  if (line.starts_with("refused: ")) return Answer{Answer::Status::refused, line.substr(9)};
  if (line.starts_with("failed: ")) return Answer{Answer::Status::failed, line.substr(8)};
  return std::nullopt;
}

int connect(const std::filesystem::path& socketPath) {
  // Bounded like every client's connect: a listener whose queue stays full is as good as none.
  return SocketLines::connect(socketPath, std::chrono::seconds(10));
}

Answer exchange(int descriptor, const std::string& request, std::chrono::milliseconds timeout) {
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{descriptor};
  if (request.size() + 1 > kMaxRequest) throw std::runtime_error("the request is too long");
  SocketLines::send(descriptor, request + "\n", "cannot send the request");
  ::shutdown(descriptor, SHUT_WR);
  std::string buffer;
  const std::string answer =
      SocketLines::receive(descriptor, buffer, timeout, kMaxRequest, "the helper");
  const auto parsed = parseAnswer(answer);
  if (!parsed) throw std::runtime_error("the helper's answer is not understood: " + answer);
  return *parsed;
}

int listen(const std::filesystem::path& path, int& lockDescriptor) {
  prepareFolder(path);
  const std::string lockPath = path.string() + ".lock";
  lockDescriptor = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lockDescriptor < 0) {
    throw std::runtime_error("cannot open " + lockPath + ": " + std::strerror(errno));
  }
  if (::flock(lockDescriptor, LOCK_EX | LOCK_NB) != 0) {
    ::close(lockDescriptor);
    lockDescriptor = -1;
    return -1;
  }
  // We hold the lock, so a socket left here belongs to a server that is gone. Anything else at
  // this path is not ours to remove.
  struct stat existing {};
  if (::lstat(path.c_str(), &existing) == 0) {
    if (!S_ISSOCK(existing.st_mode)) {
      throw std::runtime_error(path.string() +
                               " is taken by something that is not a socket; remove it");
    }
    ::unlink(path.c_str());
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string text = path.string();
  if (text.size() >= sizeof(address.sun_path)) throw std::runtime_error(text + ": path too long");
  std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
  const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listener < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  const mode_t previous = ::umask(077);
  const int bound = ::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  ::umask(previous);
  if (bound != 0 || ::listen(listener, 128) != 0) {
    const std::string reason = std::strerror(errno);
    ::close(listener);
    throw std::runtime_error("cannot listen on " + text + ": " + reason);
  }
  return listener;
}

}  // namespace linkferry::HelperSocket
