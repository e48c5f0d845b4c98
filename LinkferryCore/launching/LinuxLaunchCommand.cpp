// The Linux builders of LaunchCommand: a browser is started through its desktop entry's own
// program, an app through gtk-launch and its desktop identifier.
#include <type_traits>
#include <utility>
#include <variant>

#include "launching/LaunchCommand.h"
#include "launching/LaunchCommandInternal.h"

namespace linkferry::LaunchCommand {
namespace {

void append(std::vector<std::string>& to, const std::vector<std::string>& from) {
  to.insert(to.end(), from.begin(), from.end());
}

}  // namespace

std::optional<LaunchPlan> linuxPlan(const RouteTarget& target, const URL& url,
                                    const BrowserCatalog& catalog, const OpenOptions& options) {
  std::vector<std::string> warnings;
  if (options.background) warnings.emplace_back(kLinuxBackgroundWarning);

  auto appPlan = [&warnings](const std::string& desktopID, const URL& link) {
    std::vector<std::string> arguments = {std::string(kGtkLaunch), desktopID, launchableLink(link)};
    return LaunchPlan(std::string(kEnvExecutable), std::move(arguments), std::move(warnings));
  };

  return std::visit(
      [&](const auto& value) -> std::optional<LaunchPlan> {
        using Case = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<Case, RouteTarget::Ignore>) {
          return std::nullopt;
        } else if constexpr (std::is_same_v<Case, RouteTarget::OpenInApp>) {
          return appPlan(value.bundleID, url);
        } else if constexpr (std::is_same_v<Case, RouteTarget::OpenLink>) {
          return appPlan(value.bundleID, value.url);
        } else {
          const BrowserTarget& browserTarget = value.target;
          if (options.openIn == OpenIn::currentTab && !browserTarget.privateMode) {
            warnings.emplace_back(kLinuxCurrentTabWarning);
          }
          const BrowserDefinition& definition = resolve(browserTarget, catalog).definition;
          const std::string& link = launchableLink(url);
          const bool newWindow = options.newWindow();
          std::vector<std::string> arguments = definition.launchArguments;
          switch (definition.family) {
            case BrowserFamily::chromium:
              append(arguments, chromiumFlags(browserTarget, definition));
              if (newWindow) arguments.emplace_back("--new-window");
              break;
            case BrowserFamily::firefox:
              if (browserTarget.profile) append(arguments, {"-P", *browserTarget.profile});
              if (browserTarget.privateMode) {
                arguments.emplace_back("--private-window");
              } else {
                arguments.emplace_back(newWindow ? "--new-window" : "--new-tab");
              }
              if (browserTarget.container) warnings.emplace_back(kContainerWarning);
              break;
            case BrowserFamily::safari:
            case BrowserFamily::other:
              if (browserTarget.privateMode) {
                warnings.push_back(privateModeWarning(definition.name));
              }
              if (newWindow) warnings.push_back(newWindowWarning(definition.name));
              break;
          }
          arguments.push_back(link);
          return LaunchPlan(definition.appPath, std::move(arguments), std::move(warnings));
        }
      },
      target.value());
}

LaunchPlan linuxPlanWithoutURL(const BrowserTarget& target, const BrowserCatalog& catalog,
                               const OpenOptions& options) {
  const BrowserDefinition& definition = resolve(target, catalog).definition;
  std::vector<std::string> arguments = definition.launchArguments;
  std::vector<std::string> warnings;
  switch (definition.family) {
    case BrowserFamily::chromium:
      append(arguments, chromiumFlags(target, definition));
      if (options.openIn == OpenIn::newWindow) arguments.emplace_back("--new-window");
      break;
    case BrowserFamily::firefox:
      if (target.profile) append(arguments, {"-P", *target.profile});
      if (target.privateMode) arguments.emplace_back("--private-window");
      break;
    case BrowserFamily::safari:
    case BrowserFamily::other:
      if (target.privateMode) warnings.push_back(privateModeWarning(definition.name));
      break;
  }
  return LaunchPlan(definition.appPath, std::move(arguments), std::move(warnings));
}

}  // namespace linkferry::LaunchCommand
