#pragma once

#include "launching/LaunchRunner.h"

namespace linkferry {

// The ordinary runner: Launcher::run, that is start the program and wait for it. Stateless;
// safe to use from several threads at once.
class ProcessLaunchRunner final : public LaunchRunner {
 public:
  void run(const LaunchPlan& plan) override;
};

}  // namespace linkferry
