#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "foundation/Json.h"

// Talking to `linkferry serve`. Light on purpose: `linkferry open` reaches the service through
// this before it loads anything heavy (no suffix list, regex, catalog or database).
//
// The protocol: newline-delimited JSON on a Unix stream socket, one request object per line
// ({"request": "click" | "choose" | "cancel" | "index" | "status", ...}), one answer object per
// line in the same order: {"ok": true, ...} or {"ok": false, "error": "..."}.
namespace linkferry::ServiceClient {

using Environment = std::map<std::string, std::string>;

// "linkferry/router.sock" in $XDG_RUNTIME_DIR (the helper's folder: /tmp/linkferry-<uid>/ when
// that is unset). Pure.
std::filesystem::path socketPath(const Environment& environment);

// The longest request or answer line, newline included.
inline constexpr std::size_t kMaxLine = 256 * 1024;

// A connection to the service.
class Connection {
 public:
  // Connects when a service of this user listens (the folder is ours and closed to others, the
  // peer runs as this user); nothing otherwise.
  static std::optional<Connection> open(const Environment& environment);
  Connection(Connection&& other) noexcept : m_descriptor(other.m_descriptor) {
    other.m_descriptor = -1;
  }
  Connection& operator=(Connection&&) = delete;
  Connection(const Connection&) = delete;
  ~Connection();

  // Sends one request and waits at most `timeout` for its answer. Throws std::runtime_error
  // when the connection fails, the answer is late or not JSON, or the service answers
  // {"ok": false}: then with the service's error text.
  JsonValue exchange(const JsonValue& request, std::chrono::milliseconds timeout);

 private:
  explicit Connection(int descriptor) : m_descriptor(descriptor) {}
  int m_descriptor = -1;
  std::string m_buffer;  // bytes after the last answer
};

}  // namespace linkferry::ServiceClient
