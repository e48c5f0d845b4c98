#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

// The Linux channel between `linkferry` and `linkferry-helper`: a Unix stream socket
// "linkferry/helper.sock" in $XDG_RUNTIME_DIR (when that is unset or not absolute:
// /tmp/linkferry-<uid>/helper.sock). The folder is created with mode 0700 and must belong to this
// user with no access for others, so nobody else can put a socket there or read our requests.
//
// One request per connection: the client writes the request URL and a newline (at most
// kMaxRequest bytes in all) and half-closes; the helper answers with one line, "done",
// "refused: <reason>" or "failed: <reason>", and closes.
namespace linkferry::HelperSocket {

inline constexpr std::size_t kMaxRequest = 64 * 1024;

using Environment = std::map<std::string, std::string>;

// The socket's path for this user and environment. Pure.
std::filesystem::path path(const Environment& environment);

// Creates the socket's folder when missing (mode 0700) and checks that it is a real folder (not
// a link), owned by this user, with no permissions for group or others. Throws
// std::runtime_error naming the folder and the problem otherwise.
void prepareFolder(const std::filesystem::path& socketPath);

// The helper's answer.
struct Answer {
  enum class Status { done, refused, failed };
  Status status = Status::failed;
  std::string message;
};

// "done", "refused: <message>", "failed: <message>" (line breaks in the message become spaces).
std::string answerLine(Answer::Status status, const std::string& message);
// The reverse of answerLine; nothing for any other text.
std::optional<Answer> parseAnswer(const std::string& line);

// Connects to the socket; -1 with errno set when nothing listens there, or ETIMEDOUT when its
// listener takes no connection for 10 seconds. The descriptor is close-on-exec.
int connect(const std::filesystem::path& socketPath);

// Sends `request` and a newline on a connected descriptor, half-closes it and reads the answer
// line, waiting at most `timeout`. Closes the descriptor. Throws std::runtime_error when the
// request is too long, the connection fails or no complete answer comes.
Answer exchange(int descriptor, const std::string& request, std::chrono::milliseconds timeout);

// Binds a server's socket at `path` (the helper's, or a sibling in the same folder) after
// preparing its folder: takes the lock file "<path>.lock" (so only one server serves the path),
// removes a stale socket and listens. Returns the listening descriptor (non-blocking,
// close-on-exec), or -1 when another server already holds the lock; `lockDescriptor` then is -1,
// otherwise it holds the lock for as long as it stays open. Throws std::runtime_error on any
// other failure.
int listen(const std::filesystem::path& path, int& lockDescriptor);

}  // namespace linkferry::HelperSocket
