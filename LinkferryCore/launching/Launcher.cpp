#include "launching/Launcher.h"

#include <string>

#include "foundation/Process.h"
#include "foundation/Text.h"
#include "launching/LaunchError.h"

namespace linkferry::Launcher {

void run(const LaunchPlan& plan) {
  const Process::Result result = Process::run(plan.executable, plan.arguments);
  if (result.exitStatus == 0) return;
  const std::string output = Text::repairedUTF8(result.standardError);
  const std::string_view text = Text::trimmed(output, Text::TrimSet::whitespaceAndNewlines);
  if (text.empty()) throw LaunchError::failed(result.exitStatus);
  throw LaunchError::failedWithOutput(result.exitStatus, std::string(text));
}

}  // namespace linkferry::Launcher
