#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
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

// The service's {"ok": false} answer: it refused the request and did nothing with it.
class Refused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The click's own facts that travel with it to the service: the variables that hand focus to the
// browser and name the display it is on, those of `environment` that are set.
JsonValue clickEnvironment(const Environment& environment);
// A "click" request for `link` (as typed: the service parses it).
JsonValue clickRequest(const std::string& link, bool pick, bool dryRun,
                       const std::optional<std::string>& sourceApp, const Environment& environment);

// How long a click may take in the service: a short link's expansion and a launch, behind the
// clicks of other programs.
inline constexpr std::chrono::seconds kClickTimeout{60};

// The longest request or answer line, newline included.
inline constexpr std::size_t kMaxLine = 256 * 1024;
// The longest answer to an "index" request: the whole signal index on one line, which a profile
// with years of history makes several megabytes long.
inline constexpr std::size_t kMaxIndexAnswer = 64 * 1024 * 1024;

// How long connecting may wait for a service that accepts nothing (its queue full) before the
// caller goes on without it.
inline constexpr std::chrono::milliseconds kConnectTimeout{1000};

// The data folder a "status" answer names. Throws JsonError when it names none.
std::string servedFolder(const JsonValue& status);

// A connection to the service.
class Connection {
 public:
  // Connects when a service of this user listens (the folder is ours and closed to others, the
  // peer runs as this user) and takes the connection within kConnectTimeout; nothing otherwise.
  static std::optional<Connection> open(const Environment& environment);
  // The same, and only when the service serves the data folder this environment names (with
  // `home` for the default): a service started for another folder must not route these links.
  static std::optional<Connection> openServing(const Environment& environment,
                                               const std::filesystem::path& home);
  Connection(Connection&& other) noexcept : m_descriptor(other.m_descriptor) {
    other.m_descriptor = -1;
  }
  Connection& operator=(Connection&&) = delete;
  Connection(const Connection&) = delete;
  ~Connection();

  // Sends one request and waits at most `timeout` for its answer of at most `answerLimit` bytes.
  // Throws std::runtime_error when the connection fails or the answer is late or too long,
  // JsonError (naming "the service's answer") when the answer is not a JSON object with a
  // boolean "ok", and Refused with the service's error text when it answers {"ok": false}.
  JsonValue exchange(const JsonValue& request, std::chrono::milliseconds timeout,
                     std::size_t answerLimit = kMaxLine);

 private:
  explicit Connection(int descriptor) : m_descriptor(descriptor) {}
  int m_descriptor = -1;
  std::string m_buffer;  // bytes after the last answer
};

}  // namespace linkferry::ServiceClient
