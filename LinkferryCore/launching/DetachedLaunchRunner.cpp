#include "launching/DetachedLaunchRunner.h"

#include <string>

#include "foundation/Process.h"
#include "foundation/Text.h"
#include "launching/LaunchEnvironment.h"
#include "launching/LaunchError.h"

namespace linkferry {

void DetachedLaunchRunner::run(const LaunchPlan& plan) {
  const Process::DetachedResult result =
      Process::launchDetached(plan.executable, plan.arguments, m_window,
                              LaunchEnvironment::forChild(Process::currentEnvironment()));
  if (result.stillRunning || !result.exitStatus || *result.exitStatus == 0) return;
  const std::string output = Text::repairedUTF8(result.standardError);
  const std::string_view text = Text::trimmed(output, Text::TrimSet::whitespaceAndNewlines);
  if (text.empty()) throw LaunchError::failed(*result.exitStatus);
  throw LaunchError::failedWithOutput(*result.exitStatus, std::string(text));
}

}  // namespace linkferry
