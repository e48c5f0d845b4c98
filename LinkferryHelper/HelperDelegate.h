#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/URL.h"
#include "launching/LaunchPlan.h"
#include "launching/LaunchRunner.h"
#include "launching/SenderCheck.h"

// The helper's behaviour, written against small interfaces so that the same logic serves the
// macOS application (Apple events, NSWorkspace, NSAlert, NSTimer) and the Linux program (a Unix
// socket, desktop entries and xdg-mime, notifications, a poll loop), and can be tested with
// fakes. Every entry point runs on the platform's main thread. What may take long runs on
// background tasks, so that one request never holds up the next: the policy check and the run of
// a plan, and the workspace's queries and change for a handler request.
namespace linkferry {

// How a request ended, for platforms whose channel can carry an answer back (the Linux socket).
// The macOS helper leaves its reply event empty.
struct HelperReply {
  enum class Status {
    done,     // the plan (or one of its fallbacks) ran, or the handler was changed
    refused,  // not a request, a foreign sender, or refused by the policy; nothing was run
    failed,   // the plan and its fallbacks failed, or the workspace refused the change
  };
  Status status = Status::done;
  std::string message;  // the log line's or the alert's text; empty for `done`
  bool operator==(const HelperReply&) const = default;
};

// One request event.
class HelperRequest {
 public:
  virtual ~HelperRequest() = default;
  // The request URL's text (the event's direct object); nothing when the event has none.
  virtual std::optional<std::string> directObject() const = 0;
  // Who sent the event, as the platform reports it.
  virtual SenderIdentity sender() const = 0;
  // Called exactly once per request, possibly from a background thread after the plan ran.
  virtual void reply(const HelperReply&) {}
};

// Handler queries and changes (NSWorkspace on macOS, desktop entries and xdg-mime on Linux).
// Called from background threads, possibly several at once.
class HelperWorkspace {
 public:
  virtual ~HelperWorkspace() = default;
  // The identifiers of the applications able to open `probe`, in the platform's order, skipping
  // those whose identifier cannot be read.
  virtual std::vector<std::string> applicationsToOpen(const URL& probe) = 0;
  // Where the application with this identifier lives; nothing when it is not installed.
  virtual std::optional<std::string> applicationLocation(const std::string& identifier) = 0;
  // Makes the application at `location` open links of `scheme`. Blocks until the platform
  // answers; throws an exception whose what() is the platform's description on failure.
  virtual void setDefaultApplication(const std::string& location, const std::string& scheme) = 0;
};

// Modal alerts (activating the helper first) or their Linux stand-in, a notification.
class HelperAlerts {
 public:
  virtual ~HelperAlerts() = default;
  virtual void alert(const std::string& title, const std::string& message) = 0;
};

// The main thread's timers and queue.
class HelperScheduler {
 public:
  using Token = std::uint64_t;
  virtual ~HelperScheduler() = default;
  // Runs `action` once on the main thread after `delay`; the token cancels it.
  virtual Token schedule(std::chrono::milliseconds delay, std::function<void()> action) = 0;
  // Cancels a scheduled action that has not run yet; unknown tokens are ignored.
  virtual void cancel(Token token) = 0;
  // Runs `task` on a background thread, not bound to the main thread.
  virtual void background(std::function<void()> task) = 0;
  // Runs `task` on the main thread as soon as it is free. Safe from any thread.
  virtual void onMain(std::function<void()> task) = 0;
  // Ends the process (NSApplication terminate on macOS, the end of the poll loop on Linux).
  virtual void terminate() = 0;
};

// Everything the delegate needs from its platform. The references must outlive the delegate and
// every plan it started (in practice: the process).
struct HelperServices {
  const SenderCheck& senderCheck;
  HelperWorkspace& workspace;
  HelperAlerts& alerts;
  HelperScheduler& scheduler;
  // Runs one plan (not its fallbacks): Launcher on macOS, the detached runner on Linux. Used
  // from background threads.
  LaunchRunner& runner;
  // Throws HelperPolicy::Rejection for a plan the platform's policy refuses. Called from
  // background threads, like the workspace, so that reading what is installed never holds up
  // the main thread's other requests.
  std::function<void(const LaunchPlan&)> validatePlan;
  // A line for the system log ("LinkFerry Helper: …"), already escaped for display
  // (DisplayText::escaped) and written as given; safe from any thread. Alert texts and reply
  // messages are escaped the same way before they are handed out.
  std::function<void(const std::string&)> log;
  // The product's own application, which may always take a scheme: the App Store edition's
  // bundle identifier on macOS, the desktop identifier "linkferry" on Linux.
  std::string ownApplication;
  // The installed alert's message; empty for HelperDelegate::kInstalledMessage (the App Store
  // edition's text).
  std::string installedMessage = {};
};

class HelperDelegate {
 public:
  static constexpr std::chrono::milliseconds kDefaultIdleInterval{120'000};
  static constexpr std::chrono::milliseconds kWelcomeDelay{1'000};

  inline static const std::string kInstalledTitle = "LinkFerry Helper is installed";
  inline static const std::string kInstalledMessage =
      "It works in the background for LinkFerry from the Mac App Store: it opens links in the "
      "right browser profile, in private windows and in the current tab. There is nothing else "
      "to do; it has no window and quits by itself.";
  inline static const std::string kLinuxInstalledMessage =
      "It works in the background for LinkFerry: it opens links in the right browser profile "
      "and in private windows, and changes which application opens a kind of link. There is "
      "nothing else to do; it has no window and quits by itself.";
  inline static const std::string kOpenFailedTitle = "LinkFerry Helper could not open the link";
  inline static const std::string kHandlerFailedTitle =
      "Could not change which app opens these links";

  explicit HelperDelegate(HelperServices services,
                          std::chrono::milliseconds idleInterval = kDefaultIdleInterval);
  ~HelperDelegate();
  HelperDelegate(const HelperDelegate&) = delete;
  HelperDelegate& operator=(const HelperDelegate&) = delete;

  // The platform finished launching: the welcome check in one second, and the idle timer.
  void didFinishLaunching();
  // The user opened the running helper again: the installed alert; the timer is left alone.
  // Returns false (the platform should do nothing more).
  bool shouldHandleReopen();
  // One request event. Returns once the request is refused, handled, or its plan started.
  void handle(std::shared_ptr<HelperRequest> request);
  // Restarts the idle timer.
  void scheduleQuit();

  bool handledAURL() const { return m_handledAURL; }
  // The helper was started to deliver a request (the Linux program says so on its command
  // line): no welcome alert even if the request is slow to arrive.
  void markStartedForRequest() { m_handledAURL = true; }

 private:
  void setHandler(const std::string& scheme, const std::string& identifier,
                  std::shared_ptr<HelperRequest> request);
  void startPlan(const LaunchPlan& plan, std::shared_ptr<HelperRequest> request);
  void showInstalledAlert();

  HelperServices m_services;
  std::chrono::milliseconds m_idleInterval;
  std::optional<HelperScheduler::Token> m_idleTimer;
  bool m_handledAURL = false;
};

}  // namespace linkferry
