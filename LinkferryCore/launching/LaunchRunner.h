#pragma once

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
};

}  // namespace linkferry
