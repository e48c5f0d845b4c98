#include "launching/DetachedLaunchRunner.h"

#include <filesystem>
#include <optional>
#include <string>
#include <utility>

#include "foundation/Process.h"
#include "foundation/Text.h"
#include "launching/LaunchEnvironment.h"
#include "launching/LaunchError.h"

namespace linkferry {

namespace {

thread_local const std::map<std::string, std::string>* tClickEnvironment = nullptr;

}  // namespace

DetachedLaunchRunner::ClickEnvironment::ClickEnvironment(
    std::map<std::string, std::string> environment)
    : m_environment(std::move(environment)), m_previous(tClickEnvironment) {
  tClickEnvironment = &m_environment;
}

DetachedLaunchRunner::ClickEnvironment::~ClickEnvironment() {
  tClickEnvironment = m_previous;
}

void DetachedLaunchRunner::run(const LaunchPlan& plan) {
  runTellingStart(plan, {});
}

bool DetachedLaunchRunner::handsOn(const LaunchPlan& plan) {
  return std::filesystem::path(plan.executable).filename() == "gtk-launch";
}

void DetachedLaunchRunner::runTellingStart(const LaunchPlan& plan,
                                           const std::function<void()>& started) {
  const bool tellAtExec = started && !handsOn(plan);
  const Process::DetachedResult result = Process::launchDetached(
      plan.executable, plan.arguments, m_window,
      LaunchEnvironment::forChild(Process::currentEnvironment(),
                                  tClickEnvironment ? std::optional(*tClickEnvironment)
                                                    : std::nullopt),
      tellAtExec ? started : std::function<void()>());
  const bool succeeded = result.stillRunning || !result.exitStatus || *result.exitStatus == 0;
  if (succeeded && started && !tellAtExec) started();
  if (succeeded) return;
  const std::string output = Text::repairedUTF8(result.standardError);
  const std::string_view text = Text::trimmed(output, Text::TrimSet::whitespaceAndNewlines);
  if (text.empty()) throw LaunchError::failed(*result.exitStatus);
  throw LaunchError::failedWithOutput(*result.exitStatus, std::string(text));
}

}  // namespace linkferry
