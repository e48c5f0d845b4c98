#pragma once

#include <functional>

#include "launching/LaunchPlan.h"

namespace linkferry {

// The seam through which the router runs plans, so that a dry run, the sandboxed application
// (which hands plans to the helper) or a test can take the place of real processes.
class LaunchRunner {
 public:
  virtual ~LaunchRunner() = default;

  // Runs the plan itself, not its fallbacks. Returns when it succeeded; throws LaunchError when
  // it ran and failed, std::system_error when it could not be started. May block.
  virtual void run(const LaunchPlan& plan) = 0;

  // Like run, and calls `started` (when given) once the plan has done what the user waits for,
  // so the caller can answer before the run returns: a runner that judges a long-running program
  // by a window calls it as soon as the program has been executed. The run's verdict still
  // comes from run's return or throw; `started` is never called for a plan that could not start.
  // This default calls it when run returned. `started` must not throw.
  virtual void runTellingStart(const LaunchPlan& plan, const std::function<void()>& started) {
    run(plan);
    if (started) started();
  }
};

}  // namespace linkferry
