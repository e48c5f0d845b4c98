// The current-tab builders of LaunchCommand: a short AppleScript that sets the URL of the front
// window's tab, with the ordinary new-tab plan as its fallback.
#include <array>
#include <utility>

#include "launching/LaunchCommand.h"
#include "launching/LaunchCommandInternal.h"

namespace linkferry::LaunchCommand {
namespace {

struct TabProperty {
  std::string_view bundleID;
  std::string_view property;
};

constexpr std::array<TabProperty, 17> kTabProperties = {{
    {"com.apple.Safari", "current tab"},
    {"com.apple.SafariTechnologyPreview", "current tab"},
    {"com.kagi.kagimacOS", "current tab"},
    {"com.google.Chrome", "active tab"},
    {"com.google.Chrome.beta", "active tab"},
    {"com.google.Chrome.dev", "active tab"},
    {"com.google.Chrome.canary", "active tab"},
    {"org.chromium.Chromium", "active tab"},
    {"com.brave.Browser", "active tab"},
    {"com.brave.Browser.beta", "active tab"},
    {"com.brave.Browser.nightly", "active tab"},
    {"com.microsoft.edgemac", "active tab"},
    {"com.microsoft.edgemac.Beta", "active tab"},
    {"com.microsoft.edgemac.Dev", "active tab"},
    {"com.microsoft.edgemac.Canary", "active tab"},
    {"com.vivaldi.Vivaldi", "active tab"},
    {"company.thebrowser.Browser", "active tab"},
}};

}  // namespace

std::optional<std::string_view> tabProperty(std::string_view bundleID) {
  for (const TabProperty& entry : kTabProperties) {
    if (entry.bundleID == bundleID) return entry.property;
  }
  return std::nullopt;
}

std::vector<std::string> currentTabScript(std::string_view bundleID, std::string_view tab,
                                          bool background) {
  const std::string application = "application id \"" + std::string(bundleID) + "\"";
  std::vector<std::string> lines = {
      "on run argv",
      "if not (" + application + " is running) then error \"not running\"",
      "with timeout of 10 seconds",
      "tell " + application,
      "if (count of windows) is 0 then error \"no window\"",
      "set URL of " + std::string(tab) + " of front window to item 1 of argv",
  };
  if (!background) lines.emplace_back("activate");
  lines.emplace_back("end tell");
  lines.emplace_back("end timeout");
  lines.emplace_back("end run");
  return lines;
}

CurrentTabSupport currentTabSupport(const BrowserTarget& target, const BrowserCatalog& catalog,
                                    LaunchPlatform platform) {
  using Reason = CurrentTabSupport::Reason;
  if (target.privateMode) return CurrentTabSupport::unavailable(Reason::privateWindow);
  if (platform == LaunchPlatform::linux) {
    return CurrentTabSupport::unavailable(Reason::notScriptable);
  }
  const CatalogBrowser* browser = catalog.browser(target.browser);
  if (!browser) return CurrentTabSupport::unavailable(Reason::notScriptable);
  const BrowserDefinition& definition = browser->definition;

  // Other instances of the same application: the script addresses the application, which may be
  // showing any of their windows.
  bool hasOthers = false;
  bool scriptable = tabProperty(definition.id).has_value();
  for (const CatalogBrowser& other : catalog.browsers) {
    if (other.definition.appPath != definition.appPath || other.definition.id == definition.id) {
      continue;
    }
    hasOthers = true;
    scriptable = scriptable || tabProperty(other.definition.id).has_value();
  }
  if (!scriptable) return CurrentTabSupport::unavailable(Reason::notScriptable);
  if (definition.explicitUserDataDir || hasOthers) {
    return CurrentTabSupport::unavailable(Reason::separateInstance);
  }
  if (browser->profiles.size() < 2) return CurrentTabSupport::available();
  return CurrentTabSupport::unavailable(Reason::severalProfiles);
}

std::optional<LaunchPlan> currentTabPlan(const BrowserTarget& target, const URL& url,
                                         const BrowserCatalog& catalog,
                                         const OpenOptions& options) {
  const OpenOptions newTab{OpenIn::newTab, options.background};
  std::optional<LaunchPlan> fallback =
      plan(RouteTarget::open(target), url, catalog, newTab, LaunchPlatform::macOS);
  if (!fallback) return std::nullopt;

  const CurrentTabSupport support = currentTabSupport(target, catalog, LaunchPlatform::macOS);
  if (const auto reason = support.reason()) {
    if (const auto text = warningText(*reason)) {
      const CatalogBrowser* browser = catalog.browser(target.browser);
      const std::string& name = browser ? browser->definition.name : target.browser;
      fallback->warnings.push_back("current tab is not available for " + name + " (" +
                                   std::string(*text) + "): opened in a new tab");
    }
    return fallback;
  }

  const CatalogBrowser& browser = resolve(target, catalog);
  const auto tab = tabProperty(browser.definition.id);
  if (!tab) return fallback;
  std::vector<std::string> arguments;
  for (std::string& line : currentTabScript(browser.definition.id, *tab, options.background)) {
    arguments.emplace_back("-e");
    arguments.push_back(std::move(line));
  }
  arguments.push_back(launchableLink(url));
  std::vector<std::string> warnings = fallback->warnings;
  return LaunchPlan(std::string(kOsascriptExecutable), std::move(arguments), std::move(warnings),
                    {std::move(*fallback)}, std::string(kCurrentTabFallbackNote));
}

}  // namespace linkferry::LaunchCommand
