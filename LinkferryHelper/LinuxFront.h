#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "HelperDelegate.h"
#include "browsers/DesktopEntry.h"
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

// The sender is LinkFerry when it runs as this user and its program (/proc/<pid>/exe) is
// exactly `linkferry`. Anything unknown fails closed. Linux has no application bundles, so no
// path is an installed app (the Linux policy does not ask).
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

// Desktop entries of the helper's own XDG folders, read afresh for every question.
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

// The main thread's loop: timers, tasks posted from background threads, and the listening
// socket. Runs until terminate().
class MainLoop final : public HelperScheduler {
 public:
  MainLoop();
  ~MainLoop() override;
  Token schedule(std::chrono::milliseconds delay, std::function<void()> action) override;
  void cancel(Token token) override;
  void background(std::function<void()> task) override;
  void onMain(std::function<void()> task) override;
  void terminate() override;

  // Serves `listener` (a listening socket), handing each accepted connection to `accept`, until
  // terminate() is called.
  void run(int listener, const std::function<void(int connection)>& accept);

 private:
  using Clock = std::chrono::steady_clock;
  struct Timer {
    Clock::time_point due;
    std::function<void()> action;
  };
  std::map<Token, Timer> m_timers;
  Token m_next = 1;
  std::mutex m_mutex;  // guards m_posted
  std::vector<std::function<void()>> m_posted;
  int m_wake = -1;  // eventfd
  std::atomic<bool> m_running{true};
};

// Binds the helper's socket at `path` after preparing its folder: takes the lock file beside it
// (so only one helper serves the folder), removes a stale socket and listens. Returns the
// listening descriptor, or -1 when another helper already holds the lock. Throws
// std::runtime_error on any other failure.
int listen(const std::filesystem::path& path, int& lockDescriptor);

// Reads one request from an accepted connection (at most HelperSocket::kMaxRequest bytes up to a
// newline, waiting at most `timeout`) and wraps it with the peer's credentials. A request that
// is too long, unterminated or late has no direct object.
std::shared_ptr<HelperRequest> readRequest(int connection, std::chrono::milliseconds timeout);

// The helper program: arguments are [--idle-seconds N] [--for-request]; the environment variable
// LINKFERRY_HELPER_IDLE_SECONDS sets the idle time too (the option wins). Returns the exit code.
int main(int argc, char** argv);

}  // namespace linkferry::LinuxHelper
