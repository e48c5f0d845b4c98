#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>

#include "ProgramIdentity.h"
#include "foundation/Json.h"

// Talking to `linkferry serve`. Light on purpose: `linkferry open` reaches the service through
// this before it loads anything heavy (no suffix list, regex, catalog or database).
//
// The protocol: newline-delimited JSON on a Unix stream socket, one request object per line
// ({"request": "click" | "choose" | "cancel" | "index" | "status" | "quit", ...}), one answer
// object per line in the same order: {"ok": true, ...} or {"ok": false, "error": "..."}. The
// "status" answer names the build that serves (ProgramIdentity's keys); "quit" is answered, then
// the service gives its socket up, ends the connection and exits once its clicks are answered.
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

struct Served;

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
  // openServing, with the service's "status" answer (the one request it already asked).
  static std::optional<Served> openServed(const Environment& environment,
                                          const std::filesystem::path& home);
  Connection(Connection&& other) noexcept
      : m_descriptor(other.m_descriptor),
        m_peerPid(other.m_peerPid),
        m_buffer(std::move(other.m_buffer)) {
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

  // Waits at most `timeout` for the service to end the connection, anything it still sends
  // skipped. False when it stays open.
  bool awaitEnd(std::chrono::milliseconds timeout);

  // The process that listens on the socket (SO_PEERCRED when connecting): the service, or the
  // service manager that holds the socket for it.
  int peerPid() const { return m_peerPid; }

 private:
  Connection(int descriptor, int peerPid) : m_descriptor(descriptor), m_peerPid(peerPid) {}
  int m_descriptor = -1;
  int m_peerPid = 0;
  std::string m_buffer;  // bytes after the last answer
};

struct Served {
  Connection connection;
  JsonValue status;
};

// How long a service asked to stop may take to give its socket up, and a new one to answer.
inline constexpr std::chrono::seconds kStopTimeout{10};
inline constexpr std::chrono::seconds kStartTimeout{10};

// Stops the service behind `served`: the "quit" request, then its socket given up. A service too
// old to know "quit" gets SIGTERM, only when its process (the connection's peer, or the pid its
// status names) runs a program named `linkferry` as this user, and is waited for until it has
// exited. Waits at most kStopTimeout. False when the service could not be stopped.
bool stop(Served& served);

// Waits at most `timeout` for a service serving this environment's data folder to answer on the
// socket (woken by the socket's folder changing, not by polling).
std::optional<Served> awaitService(const Environment& environment,
                                   const std::filesystem::path& home,
                                   std::chrono::milliseconds timeout);

// A connection to a service of the build `own`, for clicks: a service of another build or version
// is stopped (stop) and a new one started with `start` (unless the socket's service manager
// starts it by itself), then used. Nothing when no service answers at first (the caller routes in
// its own process, as before), when the old one cannot be stopped or no new one answers, and when
// the service manager holds the socket for a program at another path (it would only start that
// one again). Never more than one replacement: when the new service is not of `own` either, it
// is used, and `notice` says so. `notice` also tells what was replaced, and why nothing is used.
std::optional<Connection> openCurrent(const Environment& environment,
                                      const std::filesystem::path& home, const ProgramIdentity& own,
                                      const std::function<void()>& start,
                                      const std::function<void(const std::string&)>& notice);

}  // namespace linkferry::ServiceClient
