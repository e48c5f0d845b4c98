#include "launching/ProcessLaunchRunner.h"

#include "launching/Launcher.h"

namespace linkferry {

void ProcessLaunchRunner::run(const LaunchPlan& plan) {
  Launcher::run(plan);
}

}  // namespace linkferry
