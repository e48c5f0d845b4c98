#pragma once

#include <chrono>
#include <map>
#include <string>

#include "launching/LaunchRunner.h"

namespace linkferry {

// The Linux runner. A Linux plan usually starts the browser itself rather than a hand-off tool,
// so waiting for it would block until the user quits the browser: the program is started
// detached instead (its own session, standard input and output on /dev/null, no pipe of ours left
// to it once the window has passed) and judged by what it does within a short window.
//
// - It is still running after the window, or exited 0 within it (it handed the link to a running
//   instance): success.
// - It exited non-zero within the window: LaunchError::failedWithOutput(status, its standard error
//   as UTF-8 with invalid sequences replaced, trimmed), or LaunchError::failed(status) when that
//   text is empty. A program killed by a signal has the status 128 + the signal number.
// - It could not be started: std::system_error ("cannot start <executable>: <reason>").
//
// The program gets this process's environment cleaned by LaunchEnvironment::forChild, with the
// focus and display variables of the click when a ClickEnvironment lives on the running thread.
//
// runTellingStart tells of the start as soon as a program that opens the link itself (a browser)
// has been executed, and waits out the window after that; a program that hands the link on and
// exits (gtk-launch) is told of only once it exited 0, since its exit is the verdict.
//
// Only the plan itself runs; its fallbacks are the caller's. Stateless apart from the window;
// safe to use from several threads at once. Each run blocks for at most the window.
class DetachedLaunchRunner final : public LaunchRunner {
 public:
  static constexpr std::chrono::milliseconds kDefaultWindow{1500};

  explicit DetachedLaunchRunner(std::chrono::milliseconds window = kDefaultWindow)
      : m_window(window) {}

  void run(const LaunchPlan& plan) override;
  void runTellingStart(const LaunchPlan& plan, const std::function<void()>& started) override;

  // Whether the plan's program hands the link to another and exits at once (gtk-launch), rather
  // than being the browser itself.
  static bool handsOn(const LaunchPlan& plan);

  // While one lives on a thread, plans run on that thread get the focus and display variables of
  // `environment` (the environment of the process the link was clicked through), so a router
  // serving clicks from other processes hands each browser that click's activation token.
  class ClickEnvironment {
   public:
    explicit ClickEnvironment(std::map<std::string, std::string> environment);
    ~ClickEnvironment();
    ClickEnvironment(const ClickEnvironment&) = delete;
    ClickEnvironment& operator=(const ClickEnvironment&) = delete;

   private:
    std::map<std::string, std::string> m_environment;
    const std::map<std::string, std::string>* m_previous;
  };

 private:
  std::chrono::milliseconds m_window;
};

}  // namespace linkferry
