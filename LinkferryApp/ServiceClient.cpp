#include "ServiceClient.h"

#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "foundation/SocketLines.h"
#include "launching/HelperSocket.h"
#include "launching/LaunchEnvironment.h"
#include "settings/LinkferryPaths.h"

namespace linkferry::ServiceClient {

namespace {

// How the service's answers are named in what goes wrong with them.
constexpr const char* kAnswer = "the service's answer";

using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline`, for poll(); zero once it passed.
int millisecondsUntil(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 86'400'000));
}

// A process that is, for certain, a `linkferry` program of this user: pinned by a pidfd before
// its program is looked at, so its number cannot pass to another process in between. -1 else.
int linkferryProcess(int pid) {
  if (pid <= 0) return -1;
  const int handle = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (handle < 0) return -1;
  const std::string folder = "/proc/" + std::to_string(pid);
  std::error_code error;
  std::string program = std::filesystem::read_symlink(folder + "/exe", error).string();
  constexpr std::string_view kDeleted = " (deleted)";  // replaced by an upgrade meanwhile
  if (program.ends_with(kDeleted)) program.resize(program.size() - kDeleted.size());
  struct stat owner {};
  if (error || std::filesystem::path(program).filename() != "linkferry" ||
      ::stat(folder.c_str(), &owner) != 0 || owner.st_uid != ::getuid()) {
    ::close(handle);
    return -1;
  }
  return handle;
}

// Ends a service that does not know "quit", the way the service manager would: SIGTERM, which
// it answers by finishing its clicks. Waits until `deadline` for the process to exit.
bool terminate(const Served& served, Clock::time_point deadline) {
  int handle = linkferryProcess(served.connection.peerPid());
  if (handle < 0) handle = linkferryProcess(served.status.value("pid", 0));
  if (handle < 0) return false;
  bool exited = false;
  if (::syscall(SYS_pidfd_send_signal, handle, SIGTERM, nullptr, 0) == 0) {
    pollfd entry{handle, POLLIN, 0};
    exited = ::poll(&entry, 1, millisecondsUntil(deadline)) == 1;
  }
  ::close(handle);
  return exited;
}

}  // namespace

std::filesystem::path socketPath(const Environment& environment) {
  return HelperSocket::path(environment).parent_path() / "router.sock";
}

JsonValue clickEnvironment(const Environment& environment) {
  JsonValue variables = JsonValue::object();
  for (const auto* names :
       {&LaunchEnvironment::focusVariables(), &LaunchEnvironment::displayVariables()}) {
    for (std::string_view name : *names) {
      if (auto found = environment.find(std::string(name)); found != environment.end()) {
        variables[found->first] = found->second;
      }
    }
  }
  return variables;
}

JsonValue clickRequest(const std::string& link, bool pick, bool dryRun,
                       const std::optional<std::string>& sourceApp, const Environment& environment) {
  JsonValue request = {{"request", "click"},
                       {"url", link},
                       {"pick", pick},
                       {"dryRun", dryRun},
                       {"environment", clickEnvironment(environment)}};
  if (sourceApp) request["sourceApp"] = *sourceApp;
  return request;
}

std::optional<Connection> Connection::openServing(const Environment& environment,
                                                  const std::filesystem::path& home) {
  std::optional<Served> served = openServed(environment, home);
  if (!served) return std::nullopt;
  return std::move(served->connection);
}

std::optional<Served> Connection::openServed(const Environment& environment,
                                             const std::filesystem::path& home) {
  std::optional<Connection> connection = open(environment);
  if (!connection) return std::nullopt;
  const std::string folder = LinkferryPaths::defaultPaths(environment, home).root.string();
  try {
    JsonValue status = connection->exchange({{"request", "status"}}, std::chrono::seconds(10));
    if (servedFolder(status) == folder) return Served{std::move(*connection), std::move(status)};
  } catch (const std::exception&) {
    // A service that cannot say which folder it serves is not used.
  }
  return std::nullopt;
}

std::optional<Connection> Connection::open(const Environment& environment) {
  const std::filesystem::path path = socketPath(environment);
  // Never hand a link to a socket in a folder someone else could have put there.
  try {
    HelperSocket::prepareFolder(path);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  const int descriptor = SocketLines::connect(path, kConnectTimeout);
  if (descriptor < 0) return std::nullopt;
  ucred credentials{};
  socklen_t size = sizeof(credentials);
  if (::getsockopt(descriptor, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
      credentials.uid != ::getuid()) {
    ::close(descriptor);
    return std::nullopt;
  }
  return Connection(descriptor, credentials.pid);
}

Connection::~Connection() {
  if (m_descriptor >= 0) ::close(m_descriptor);
}

JsonValue Connection::exchange(const JsonValue& request, std::chrono::milliseconds timeout,
                               std::size_t answerLimit) {
  const std::string line = Json::encodeCompact(request) + "\n";
  if (line.size() > kMaxLine) throw std::runtime_error("the request is too long");
  SocketLines::send(m_descriptor, line, "cannot reach the service");
  const std::string text =
      SocketLines::receive(m_descriptor, m_buffer, timeout, answerLimit, "the service");
  JsonValue answer = Json::parse(text, kAnswer);
  const JsonReader reader(answer, kAnswer);
  if (!reader["ok"].boolean()) {
    const std::optional<JsonReader> error = reader.optional("error");
    throw Refused(error ? error->string() : std::string("the service refused the request"));
  }
  return answer;
}

bool Connection::awaitEnd(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    pollfd entry{m_descriptor, POLLIN, 0};
    const int ready = ::poll(&entry, 1, millisecondsUntil(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    char bytes[4096];
    const ssize_t got = ::read(m_descriptor, bytes, sizeof(bytes));
    if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) return true;
  }
}

bool stop(Served& served) {
  const auto deadline = Clock::now() + kStopTimeout;
  try {
    served.connection.exchange({{"request", "quit"}}, kStopTimeout);
  } catch (const Refused&) {
    // A service from before "quit".
    return terminate(served, deadline);
  } catch (const std::exception&) {
    return false;
  }
  return served.connection.awaitEnd(
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
}

std::optional<Served> awaitService(const Environment& environment,
                                   const std::filesystem::path& home,
                                   std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  const std::filesystem::path socket = socketPath(environment);
  try {
    HelperSocket::prepareFolder(socket);  // so that its folder can be watched
  } catch (const std::exception&) {
    return std::nullopt;  // not a folder any socket of ours will be in
  }
  const int watcher = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (watcher >= 0) {
    (void)::inotify_add_watch(watcher, socket.parent_path().c_str(),
                              IN_CREATE | IN_MOVED_TO | IN_ATTRIB);
  }
  // A socket's file appears when it is bound, a moment before it listens: after a change the
  // socket is tried again shortly even when nothing else changes.
  bool changed = false;
  for (;;) {
    if (std::optional<Served> served = Connection::openServed(environment, home)) {
      if (watcher >= 0) ::close(watcher);
      return served;
    }
    if (Clock::now() >= deadline || watcher < 0) break;
    pollfd entry{watcher, POLLIN, 0};
    const int wait = millisecondsUntil(deadline);
    const int ready = ::poll(&entry, 1, changed ? std::min(wait, 20) : wait);
    changed = ready > 0;
    if (changed) {
      alignas(inotify_event) char events[4096];
      while (::read(watcher, events, sizeof(events)) > 0) {
      }
    }
  }
  if (watcher >= 0) ::close(watcher);
  return std::nullopt;
}

std::optional<Connection> openCurrent(const Environment& environment,
                                      const std::filesystem::path& home, const ProgramIdentity& own,
                                      const std::function<void()>& start,
                                      const std::function<void(const std::string&)>& notice) {
  std::optional<Served> served = Connection::openServed(environment, home);
  if (!served) return std::nullopt;
  const std::optional<ProgramIdentity> old = ProgramIdentity::from(served->status);
  if (old == own) return std::move(served->connection);

  const std::string oldName = old ? old->description()
                                  : "an older linkferry serve (process " +
                                        std::to_string(served->status.value("pid", 0)) + ")";
  if (old && old->path != own.path && served->status.value("socketActivated", false)) {
    // The service manager would start that program again: this click is routed here, by this
    // build, and the service is left to the clicks of its own.
    notice("the service manager's service is " + oldName +
           ", not this program; routing here (`linkferry install` from this program makes it the "
           "service)");
    return std::nullopt;
  }
  if (!stop(*served)) {
    notice("the service is " + oldName + ", not this program, and did not stop; routing here");
    return std::nullopt;
  }
  served.reset();
  // Where the service manager holds the socket, it starts the service again by itself.
  std::optional<Served> next = [&] {
    if (std::optional<Served> managed = Connection::openServed(environment, home)) return managed;
    start();
    return awaitService(environment, home, kStartTimeout);
  }();
  if (!next) {
    notice("stopped " + oldName + ", and no new service answered; routing here");
    return std::nullopt;
  }
  const std::optional<ProgramIdentity> now = ProgramIdentity::from(next->status);
  if (now != own) {
    notice("the service that answers is " +
           (now ? now->description() : std::string("an older linkferry serve")) +
           ", not this program (" + own.description() + "); using it");
  } else {
    notice("replaced " + oldName + " with this program's service");
  }
  return std::move(next->connection);
}

std::string servedFolder(const JsonValue& status) {
  return JsonReader(status, kAnswer)["dataFolder"].string();
}

}  // namespace linkferry::ServiceClient
