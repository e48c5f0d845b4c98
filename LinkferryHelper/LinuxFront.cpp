#include "LinuxFront.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <thread>

#include "browsers/DesktopEntries.h"
#include "browsers/DesktopExec.h"
#include "foundation/DisplayText.h"
#include "foundation/DesktopNotice.h"
#include "foundation/Process.h"
#include "launching/DetachedLaunchRunner.h"
#include "launching/Edition.h"
#include "launching/HelperSocket.h"

namespace linkferry::LinuxHelper {

namespace {

constexpr std::string_view kLogPrefix = "LinkFerry Helper: ";

// SO_PEERPIDFD of Linux 6.5, absent from older headers; older kernels refuse it.
constexpr int kPeerPidfdOption = 77;

// Writes a line that is already escaped for display.
void logLine(const std::string& line) {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  std::cerr << line << std::endl;
}

std::string searchPathOf(const Environment& environment) {
  const auto found = environment.find("PATH");
  return found != environment.end() && !found->second.empty() ? found->second
                                                              : DesktopExec::kDefaultSearchPath;
}

bool isExecutableFile(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

// A request read from the socket; the answer goes back on the same connection.
class SocketRequest final : public HelperRequest {
 public:
  SocketRequest(int connection, std::optional<std::string> text, SenderIdentity sender)
      : m_connection(connection), m_text(std::move(text)), m_sender(std::move(sender)) {}
  ~SocketRequest() override {
    if (m_connection >= 0) ::close(m_connection);
  }
  std::optional<std::string> directObject() const override { return m_text; }
  SenderIdentity sender() const override { return m_sender; }
  void reply(const HelperReply& reply) override {
    std::lock_guard lock(m_mutex);
    if (m_connection < 0) return;
    HelperSocket::Answer::Status status = HelperSocket::Answer::Status::done;
    switch (reply.status) {
      case HelperReply::Status::done:
        status = HelperSocket::Answer::Status::done;
        break;
      case HelperReply::Status::refused:
        status = HelperSocket::Answer::Status::refused;
        break;
      case HelperReply::Status::failed:
        status = HelperSocket::Answer::Status::failed;
        break;
    }
    const std::string line = HelperSocket::answerLine(status, reply.message) + "\n";
    // Best effort: a client that went away loses its answer, nothing else.
    (void)::send(m_connection, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    ::close(m_connection);
    m_connection = -1;
  }

 private:
  std::mutex m_mutex;
  int m_connection;
  std::optional<std::string> m_text;
  SenderIdentity m_sender;
};

// A connection whose request is still being read.
struct PendingConnection {
  int connection = -1;
  std::unique_ptr<PinnedPeer> peer;
  bool passedAtAccept = false;
  RequestFrame frame;
  MainLoop::Clock::time_point deadline;
};

void readMore(MainLoop& loop, const std::shared_ptr<PendingConnection>& pending,
              const SenderCheck& check,
              const std::function<void(std::shared_ptr<HelperRequest>)>& handle) {
  loop.watch(pending->connection, pending->deadline, [&loop, pending, &check, handle](bool readable) {
    if (!readable) pending->frame.finish();
    while (readable && pending->frame.state() == RequestFrame::State::reading) {
      char buffer[8192];
      const ssize_t got = ::read(pending->connection, buffer, sizeof(buffer));
      if (got > 0) {
        pending->frame.feed(std::string_view(buffer, static_cast<std::size_t>(got)));
      } else if (got < 0 && errno == EINTR) {
        continue;
      } else if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        break;
      } else {
        pending->frame.finish();
      }
    }
    if (pending->frame.state() == RequestFrame::State::reading) {
      readMore(loop, pending, check, handle);
      return;
    }
    SenderIdentity sender = pending->peer->identity();
    if (!pending->passedAtAccept || !pending->peer->passes(check)) sender.processID.reset();
    handle(std::make_shared<SocketRequest>(pending->connection, pending->frame.request(), sender));
  });
}

}  // namespace

RequestFrame::State RequestFrame::feed(std::string_view bytes) {
  if (m_state != State::reading) return m_state;
  const auto newline = bytes.find('\n');
  const std::string_view part = bytes.substr(0, newline);
  const std::size_t total = m_buffer.size() + part.size() + (newline == std::string_view::npos ? 0 : 1);
  if (total > HelperSocket::kMaxRequest) {
    std::string().swap(m_buffer);
    m_state = State::invalid;
    return m_state;
  }
  m_buffer.append(part);
  if (newline != std::string_view::npos) m_state = State::complete;
  return m_state;
}

void RequestFrame::finish() {
  if (m_state == State::reading) m_state = State::invalid;
}

std::optional<std::string> RequestFrame::request() const {
  if (m_state != State::complete) return std::nullopt;
  return m_buffer;
}

PinnedPeer::PinnedPeer(int connection) {
  ucred credentials{};
  socklen_t size = sizeof(credentials);
  if (::getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0) {
    m_identity.processID = credentials.pid;
    m_identity.userID = credentials.uid;
  }
  int pidfd = -1;
  socklen_t length = sizeof(pidfd);
  if (::getsockopt(connection, SOL_SOCKET, kPeerPidfdOption, &pidfd, &length) == 0 && pidfd >= 0) {
    m_pidfd = pidfd;
  } else if (m_identity.processID && *m_identity.processID > 0) {
    // The process could have died and its id been reused between connect and this call; the
    // kernels without SO_PEERPIDFD leave that small window open.
    m_pidfd = static_cast<int>(::syscall(SYS_pidfd_open, *m_identity.processID, 0));
  }
}

PinnedPeer::~PinnedPeer() {
  if (m_pidfd >= 0) ::close(m_pidfd);
}

bool PinnedPeer::alive() const {
  return m_pidfd >= 0 && ::syscall(SYS_pidfd_send_signal, m_pidfd, 0, nullptr, 0) == 0;
}

bool PinnedPeer::passes(const SenderCheck& check) const {
  return alive() && check.isLinkFerry(m_identity) && alive();
}

void serveConnection(MainLoop& loop, int connection, const SenderCheck& check,
                     std::chrono::milliseconds timeout,
                     const std::function<void(std::shared_ptr<HelperRequest>)>& handle) {
  auto pending = std::make_shared<PendingConnection>();
  pending->connection = connection;
  pending->peer = std::make_unique<PinnedPeer>(connection);
  pending->passedAtAccept = pending->peer->passes(check);
  pending->deadline = MainLoop::Clock::now() + timeout;
  readMore(loop, pending, check, handle);
}

std::filesystem::path selfPath() {
  std::error_code error;
  return std::filesystem::read_symlink("/proc/self/exe", error);
}

std::optional<std::filesystem::path> siblingProgram(const std::filesystem::path& self,
                                                    const std::string& name,
                                                    const std::string& buildFolder) {
  const std::filesystem::path folder = self.parent_path();
  for (const auto& candidate : {folder / name, folder.parent_path() / buildFolder / name}) {
    if (!isExecutableFile(candidate.string())) continue;
    std::error_code error;
    const auto canonical = std::filesystem::canonical(candidate, error);
    if (!error) return canonical;
  }
  return std::nullopt;
}

bool ProcSenderCheck::isLinkFerry(const SenderIdentity& sender) const {
  if (!sender.userID || *sender.userID != m_user) return false;
  if (!sender.processID || *sender.processID < 1) return false;
  std::error_code error;
  const auto program =
      std::filesystem::read_symlink("/proc/" + std::to_string(*sender.processID) + "/exe", error);
  return !error && !m_linkferry.empty() && program == m_linkferry;
}

std::vector<DesktopEntry> DesktopWorkspace::entries() const {
  return DesktopEntries::load(DesktopEntries::applicationDirectories(m_home, m_environment));
}

LinuxHelperPolicy::Installed DesktopWorkspace::installed() const {
  return LinuxHelperPolicy::installed(entries(), searchPathOf(m_environment), isExecutableFile);
}

std::vector<std::string> DesktopWorkspace::applicationsToOpen(const URL& probe) {
  std::vector<std::string> result;
  const auto scheme = probe.scheme();
  if (!scheme) return result;
  std::string type = "x-scheme-handler/" + *scheme;
  std::transform(type.begin(), type.end(), type.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const auto& entry : entries()) {
    if (std::find(entry.mimeTypes.begin(), entry.mimeTypes.end(), type) != entry.mimeTypes.end()) {
      result.push_back(entry.id);
    }
  }
  return result;
}

std::optional<std::string> DesktopWorkspace::applicationLocation(const std::string& identifier) {
  for (const auto& entry : entries()) {
    if (entry.id == identifier) return entry.path;
  }
  return std::nullopt;
}

void DesktopWorkspace::setDefaultApplication(const std::string& location,
                                             const std::string& scheme) {
  std::optional<std::string> identifier;
  for (const auto& entry : entries()) {
    if (entry.path == location) identifier = entry.id;
  }
  if (!identifier) throw std::runtime_error("the application is no longer installed");
  const auto program = Process::findExecutable("xdg-mime", searchPathOf(m_environment));
  if (!program) throw std::runtime_error("xdg-mime is not installed");
  const auto result =
      Process::run(*program, {"default", *identifier + ".desktop", "x-scheme-handler/" + scheme});
  if (result.exitStatus != 0) {
    throw std::runtime_error(result.standardError.empty() ? "xdg-mime exited with status " +
                                                                std::to_string(result.exitStatus)
                                                          : result.standardError);
  }
}

void NotifyAlerts::alert(const std::string& title, const std::string& message) {
  logLine(std::string(kLogPrefix) + title + ": " + message);
  // The line on standard error is the alert; the notification is a courtesy.
  DesktopNotice::show("LinkFerry Helper", title, message, m_searchPath);
}

void MainLoop::background(std::function<void()> task) {
  std::thread(std::move(task)).detach();
}

int main(int argc, char** argv) {
  std::chrono::milliseconds idle = HelperDelegate::kDefaultIdleInterval;
  bool forRequest = false;
  const auto readIdle = [&idle](const std::string& text) {
    try {
      const double seconds = std::stod(text);
      if (!(seconds > 0 && seconds <= 86400)) return false;
      idle = std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
      return true;
    } catch (const std::exception&) {
      return false;
    }
  };
  // Tests shorten the idle time of a helper that `linkferry` starts through the environment.
  if (const char* text = std::getenv("LINKFERRY_HELPER_IDLE_SECONDS"); text && *text) {
    if (!readIdle(text)) {
      std::cerr << "linkferry-helper: LINKFERRY_HELPER_IDLE_SECONDS needs a number of seconds\n";
      return 1;
    }
  }
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--for-request") {
      forRequest = true;
    } else if (argument == "--idle-seconds" && i + 1 < argc) {
      if (!readIdle(argv[++i])) {
        std::cerr << "linkferry-helper: --idle-seconds needs a number of seconds\n";
        return 1;
      }
    } else {
      std::cerr << "usage: linkferry-helper [--idle-seconds N] [--for-request]\n";
      return 1;
    }
  }

  // Before any thread or child exists: every program the helper starts is found on the fixed
  // search path, and so is every program the policy resolves for a desktop entry.
  ::setenv("PATH", kFixedSearchPath, 1);
  const Environment environment = Process::currentEnvironment();
  const std::filesystem::path home = Edition::realHome();
  const auto self = selfPath();
  const auto linkferry = siblingProgram(self, "linkferry", "cli");
  if (!linkferry) {
    logLine(std::string(kLogPrefix) + "no linkferry program beside " + DisplayText::escaped(self.string()) +
            ": every request will be refused");
  }

  const std::filesystem::path socketPath = HelperSocket::path(environment);
  int lock = -1;
  int listener = -1;
  try {
    listener = HelperSocket::listen(socketPath, lock);
  } catch (const std::exception& error) {
    logLine(std::string(kLogPrefix) + DisplayText::escaped(error.what()));
    return 2;
  }
  if (listener < 0) return 0;  // another helper serves this user

  MainLoop loop;
  ProcSenderCheck senderCheck(linkferry.value_or(std::filesystem::path()), ::getuid());
  DesktopWorkspace workspace(home, environment);
  NotifyAlerts alerts(searchPathOf(environment));
  DetachedLaunchRunner runner;
  HelperServices services{
      senderCheck,
      workspace,
      alerts,
      loop,
      runner,
      [&workspace, &home](const LaunchPlan& plan) {
        LinuxHelperPolicy::validate(plan, workspace.installed(), home);
      },
      logLine,
      DesktopEntries::kOwnID,
      HelperDelegate::kLinuxInstalledMessage,
  };
  HelperDelegate delegate(services, idle);
  if (forRequest) delegate.markStartedForRequest();
  delegate.didFinishLaunching();
  const std::function<void(std::shared_ptr<HelperRequest>)> handle =
      [&delegate](std::shared_ptr<HelperRequest> request) { delegate.handle(std::move(request)); };
  loop.run(listener, [&](int connection) {
    serveConnection(loop, connection, senderCheck, std::chrono::seconds(2), handle);
  });

  // Stop taking requests before anything else, so a client sees the socket gone and starts a
  // new helper; plans still in flight end with the process.
  ::unlink(socketPath.c_str());
  ::close(listener);
  std::cerr.flush();
  ::_exit(0);
}

}  // namespace linkferry::LinuxHelper
