#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "HelperDelegate.h"
#include "browsers/DesktopEntry.h"
#include "foundation/EventLoop.h"
#include "launching/LinuxHelperPolicy.h"

// The Linux front of the helper: the platform services HelperDelegate needs, made of a Unix
// socket, /proc, desktop entries, xdg-mime and notify-send. No shell is ever involved.
namespace linkferry::LinuxHelper {

using Environment = std::map<std::string, std::string>;

// Where the two programs find each other: `linkferry` next to the helper, else (in a build
// tree, where the helper is <build>/LinkferryHelper/linkferry-helper) <build>/cli/linkferry;
// and the reverse for the helper. Both resolved to canonical paths; nothing when absent.
std::optional<std::filesystem::path> siblingProgram(const std::filesystem::path& self,
                                                    const std::string& name,
                                                    const std::string& buildFolder);
// The path of the running program (/proc/self/exe).
std::filesystem::path selfPath();

// The search path every plan, xdg-mime and notify-send run with, and on which the policy resolves
// desktop entries' programs: never the helper's inherited PATH, where a program of the same user
// could have put its own "gtk-launch" first.
inline constexpr const char* kFixedSearchPath = "/usr/local/bin:/usr/bin:/bin";

// The sender is LinkFerry when it runs as this user and its program (/proc/<pid>/exe) is
// exactly `linkferry`. Anything unknown fails closed. Linux has no application bundles, so no
// path is an installed app (the Linux policy does not ask).
//
// What this proves, and what it does not: the peer process runs as this user and runs the
// linkferry program. It does not prove that linkferry wrote the request: any program of the same
// user can write a request and then exec linkferry on the same connection, or trace a running
// linkferry. Code of the same user is no security boundary on Linux; the request policy (only
// the plans LinkFerry itself builds for installed desktop entries) is the guard.
class ProcSenderCheck final : public SenderCheck {
 public:
  ProcSenderCheck(std::filesystem::path linkferry, uid_t user)
      : m_linkferry(std::move(linkferry)), m_user(user) {}
  bool isLinkFerry(const SenderIdentity& sender) const override;
  bool isInstalledApp(const std::string&) const override { return false; }

 private:
  std::filesystem::path m_linkferry;
  uid_t m_user;
};

// Desktop entries of the helper's own XDG folders, read afresh (through the bounded reader, so
// a FIFO or a device among them is skipped) for every question. Safe from any thread.
class DesktopWorkspace final : public HelperWorkspace {
 public:
  DesktopWorkspace(std::filesystem::path home, Environment environment)
      : m_home(std::move(home)), m_environment(std::move(environment)) {}
  // The identifiers of the entries whose MimeType lists x-scheme-handler/<scheme>.
  std::vector<std::string> applicationsToOpen(const URL& probe) override;
  // The entry's file for a desktop identifier.
  std::optional<std::string> applicationLocation(const std::string& identifier) override;
  // `xdg-mime default <id>.desktop x-scheme-handler/<scheme>`; throws std::runtime_error with
  // xdg-mime's message when it fails.
  void setDefaultApplication(const std::string& location, const std::string& scheme) override;

  std::vector<DesktopEntry> entries() const;
  // What the Linux policy trusts, from the same entries and the environment's PATH.
  LinuxHelperPolicy::Installed installed() const;

 private:
  std::filesystem::path m_home;
  Environment m_environment;
};

// A line "LinkFerry Helper: <title>: <message>" on standard error, and a desktop notification
// when notify-send is on the search path (never waited for longer than a second).
class NotifyAlerts final : public HelperAlerts {
 public:
  explicit NotifyAlerts(std::string searchPath) : m_searchPath(std::move(searchPath)) {}
  void alert(const std::string& title, const std::string& message) override;

 private:
  std::string m_searchPath;
};

// The main thread's loop: the shared event loop, offered to the delegate as its scheduler.
// Runs until terminate().
class MainLoop final : public EventLoop, public HelperScheduler {
 public:
  using Token = HelperScheduler::Token;
  using Clock = EventLoop::Clock;
  Token schedule(std::chrono::milliseconds delay, std::function<void()> action) override {
    return EventLoop::schedule(delay, std::move(action));
  }
  void cancel(Token token) override { EventLoop::cancel(token); }
  void background(std::function<void()> task) override;
  void onMain(std::function<void()> task) override { post(std::move(task)); }
  void terminate() override { EventLoop::terminate(); }
};

// The framing of one request on the helper's socket: the request URL's bytes up to a newline, at
// most HelperSocket::kMaxRequest bytes with the newline. Bytes arrive in any pieces; what comes
// after the newline is ignored.
class RequestFrame {
 public:
  enum class State { reading, complete, invalid };
  // Takes the next bytes of the connection; returns the state after them. Once the frame is
  // complete or invalid, further bytes change nothing.
  State feed(std::string_view bytes);
  // The connection ended (end of file, an error or its deadline): a frame still reading becomes
  // invalid.
  void finish();
  State state() const { return m_state; }
  // The request without its newline when complete; nothing otherwise.
  std::optional<std::string> request() const;

 private:
  std::string m_buffer;
  State m_state = State::reading;
};

// The peer of an accepted connection, pinned by a pidfd taken at accept (SO_PEERPIDFD where the
// kernel has it, else pidfd_open of the SO_PEERCRED process id) so that a process id reused by
// another process can never pass for the one that connected.
class PinnedPeer {
 public:
  explicit PinnedPeer(int connection);
  ~PinnedPeer();
  PinnedPeer(const PinnedPeer&) = delete;
  PinnedPeer& operator=(const PinnedPeer&) = delete;
  const SenderIdentity& identity() const { return m_identity; }
  // The sender check passes while the pinned process is alive before and after it: the program
  // the check read belongs to the process that connected.
  bool passes(const SenderCheck& check) const;

 private:
  bool alive() const;
  SenderIdentity m_identity;
  int m_pidfd = -1;
};

// Reads the requests of accepted connections on `loop` without letting one connection wait for
// another: each is read as its bytes arrive, until its newline or its deadline (`timeout` after
// accept). The sender check runs at accept and again once the request is read, both on the pinned
// peer; a request that fails either carries no process id, so the delegate's own check refuses
// it. `handle` gets every request, complete or not, on the main thread.
void serveConnection(MainLoop& loop, int connection, const SenderCheck& check,
                     std::chrono::milliseconds timeout,
                     const std::function<void(std::shared_ptr<HelperRequest>)>& handle);

// The helper program: arguments are [--idle-seconds N] [--for-request]; the environment variable
// LINKFERRY_HELPER_IDLE_SECONDS sets the idle time too (the option wins). Returns the exit code.
int main(int argc, char** argv);

}  // namespace linkferry::LinuxHelper
