#include "launching/LaunchCommand.h"

#include <stdexcept>
#include <type_traits>
#include <utility>
#include <variant>

#include "launching/LaunchCommandInternal.h"
#include "launching/LaunchError.h"

namespace linkferry::LaunchCommand {
namespace {

void append(std::vector<std::string>& to, const std::vector<std::string>& from) {
  to.insert(to.end(), from.begin(), from.end());
}

// "/usr/bin/open" arguments for `target` in a browser of `definition`'s family.
LaunchPlan macOSBrowserPlan(const BrowserTarget& target, const BrowserDefinition& definition,
                            const std::string& link, const OpenOptions& options) {
  LaunchPlan plan;
  plan.executable = std::string(kOpenExecutable);
  std::vector<std::string>& arguments = plan.arguments;
  if (options.background) arguments.emplace_back("-g");
  const bool newWindow = options.newWindow();
  switch (definition.family) {
    case BrowserFamily::chromium:
      append(arguments, {"-na", definition.appPath, "--args"});
      append(arguments, chromiumFlags(target, definition));
      if (newWindow) arguments.emplace_back("--new-window");
      arguments.push_back(link);
      break;
    case BrowserFamily::firefox:
      append(arguments, {"-na", definition.appPath, "--args"});
      if (target.profile) append(arguments, {"-P", *target.profile});
      if (target.privateMode) {
        arguments.emplace_back("--private-window");
      } else {
        arguments.emplace_back(newWindow ? "--new-window" : "--new-tab");
      }
      arguments.push_back(link);
      if (target.container) plan.warnings.emplace_back(kContainerWarning);
      break;
    case BrowserFamily::safari:
    case BrowserFamily::other:
      append(arguments, {"-a", definition.appPath, link});
      if (target.privateMode) plan.warnings.push_back(privateModeWarning(definition.name));
      if (newWindow) plan.warnings.push_back(newWindowWarning(definition.name));
      break;
  }
  return plan;
}

}  // namespace

std::string privateModeWarning(std::string_view browserName) {
  return "private mode is not supported for " + std::string(browserName);
}

std::string newWindowWarning(std::string_view browserName) {
  return "new window is not supported for " + std::string(browserName) +
         " (its own setting decides)";
}

std::optional<LaunchPlan> plan(const RouteTarget& target, const URL& url,
                               const BrowserCatalog& catalog, const OpenOptions& options,
                               LaunchPlatform platform) {
  if (platform == LaunchPlatform::linux) return linuxPlan(target, url, catalog, options);

  std::vector<std::string> prefix;
  if (options.background) prefix.emplace_back("-g");
  auto appPlan = [&prefix](const std::string& bundleID, const URL& link) {
    std::vector<std::string> arguments = prefix;
    append(arguments, {"-b", bundleID, launchableLink(link)});
    return LaunchPlan(std::string(kOpenExecutable), std::move(arguments), {});
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
          if (options.openIn == OpenIn::currentTab) {
            return currentTabPlan(value.target, url, catalog, options);
          }
          const CatalogBrowser& browser = resolve(value.target, catalog);
          return macOSBrowserPlan(value.target, browser.definition, launchableLink(url), options);
        }
      },
      target.value());
}

LaunchPlan planWithoutURL(const BrowserTarget& target, const BrowserCatalog& catalog,
                          const OpenOptions& options, LaunchPlatform platform) {
  if (platform == LaunchPlatform::linux) return linuxPlanWithoutURL(target, catalog, options);

  const BrowserDefinition& definition = resolve(target, catalog).definition;
  std::vector<std::string> flags;
  std::vector<std::string> warnings;
  switch (definition.family) {
    case BrowserFamily::chromium:
      flags = chromiumFlags(target, definition);
      if (options.openIn == OpenIn::newWindow) flags.emplace_back("--new-window");
      break;
    case BrowserFamily::firefox:
      if (target.profile) append(flags, {"-P", *target.profile});
      if (target.privateMode) flags.emplace_back("--private-window");
      break;
    case BrowserFamily::safari:
    case BrowserFamily::other:
      if (target.privateMode) warnings.push_back(privateModeWarning(definition.name));
      break;
  }
  std::vector<std::string> arguments;
  if (flags.empty()) {
    arguments = {"-a", definition.appPath};
  } else {
    arguments = {"-na", definition.appPath, "--args"};
    append(arguments, flags);
  }
  return LaunchPlan(std::string(kOpenExecutable), std::move(arguments), std::move(warnings));
}

const CatalogBrowser& resolve(const BrowserTarget& target, const BrowserCatalog& catalog) {
  const CatalogBrowser* browser = catalog.browser(target.browser);
  if (!browser) throw LaunchError::unknownBrowser(target.browser);
  if (!target.profile) return *browser;
  for (const BrowserProfile& profile : browser->profiles) {
    if (profile.id == *target.profile) return *browser;
  }
  throw LaunchError::unknownProfile(target.browser, *target.profile);
}

std::vector<std::string> chromiumFlags(const BrowserTarget& target,
                                       const BrowserDefinition& definition) {
  std::vector<std::string> flags;
  if (definition.explicitUserDataDir && definition.dataDir) {
    flags.push_back("--user-data-dir=" + *definition.dataDir);
  }
  if (target.profile) flags.push_back("--profile-directory=" + *target.profile);
  if (target.privateMode) flags.emplace_back("--incognito");
  return flags;
}

std::vector<LaunchPlan> allPlans(const BrowserCatalog& catalog, const URL& url,
                                 LaunchPlatform platform) {
  std::vector<LaunchPlan> plans;
  auto add = [&plans](std::optional<LaunchPlan> plan) {
    if (plan) plans.push_back(std::move(*plan));
  };
  for (const CatalogBrowser& browser : catalog.browsers) {
    std::vector<BrowserTarget> targets = browser.targets();
    for (const BrowserProfile& profile : browser.profiles) {
      for (const FirefoxContainer& container : profile.containers) {
        targets.push_back(BrowserTarget{browser.definition.id, profile.id, container.id, false});
      }
    }
    for (BrowserTarget target : targets) {
      for (bool privateMode : {false, true}) {
        target.privateMode = privateMode;
        for (OpenIn openIn : allOpenInCases) {
          for (bool background : {false, true}) {
            add(plan(RouteTarget::open(target), url, catalog, OpenOptions{openIn, background},
                     platform));
          }
          plans.push_back(planWithoutURL(target, catalog, OpenOptions{openIn, false}, platform));
        }
      }
    }
  }
  for (const CatalogBrowser& browser : catalog.browsers) {
    for (bool background : {false, true}) {
      const OpenOptions options{OpenIn::newTab, background};
      add(plan(RouteTarget::openInApp(browser.definition.id), url, catalog, options, platform));
      add(plan(RouteTarget::openLink(url, browser.definition.id), url, catalog, options, platform));
    }
  }
  return plans;
}

}  // namespace linkferry::LaunchCommand
