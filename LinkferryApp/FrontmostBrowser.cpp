#include "FrontmostBrowser.h"

#include <algorithm>
#include <string_view>
#include <system_error>
#include <vector>

#include "browsers/ProcessInspector.h"
#include "browsers/ProfileScanner.h"
#include "foundation/Text.h"

namespace linkferry::FrontmostBrowser {
namespace {

std::optional<std::string> canonical(const std::string& path) {
  if (path.empty()) return std::nullopt;
  std::error_code error;
  auto resolved = std::filesystem::canonical(path, error);
  if (error) return std::nullopt;
  return resolved.string();
}

std::optional<std::string> profileWithFolder(const CatalogBrowser& browser,
                                             const std::filesystem::path& folder) {
  const std::string wanted = ProcessInspector::expand(folder.string());
  const std::optional<std::string> resolved = canonical(wanted);
  for (const BrowserProfile& profile : browser.profiles) {
    const std::string own = ProcessInspector::expand(profile.path.string());
    if (own == wanted || (resolved && canonical(own) == resolved)) return profile.id;
  }
  return std::nullopt;
}

std::optional<std::string> profileWithID(const CatalogBrowser& browser, const std::string& id) {
  for (const BrowserProfile& profile : browser.profiles) {
    if (profile.id == id) return profile.id;
  }
  return std::nullopt;
}

// The one profile whose display name is a " - " part of the title after the first (the page's
// own title comes first and may hold anything).
std::optional<std::string> profileInTitle(const CatalogBrowser& browser, std::string_view title) {
  std::vector<std::string_view> parts;
  for (std::size_t start = 0;;) {
    const std::size_t separator = title.find(" - ", start);
    parts.push_back(title.substr(start, separator - start));
    if (separator == std::string_view::npos) break;
    start = separator + 3;
  }
  std::optional<std::string> found;
  for (const BrowserProfile& profile : browser.profiles) {
    if (profile.name.empty()) continue;
    if (std::find(parts.begin() + 1, parts.end(), profile.name) == parts.end()) continue;
    if (found) return std::nullopt;  // two profiles fit: the title does not tell
    found = profile.id;
  }
  return found;
}

}  // namespace

std::optional<std::string> profileOf(const ActiveWindow& window, const std::string& browserID,
                                     const BrowserCatalog& catalog,
                                     const ProcessTable& processes) {
  const CatalogBrowser* browser = catalog.browser(browserID);
  if (!browser || browser->profiles.empty()) return std::nullopt;
  std::optional<ProcessInfo> process;
  if (window.pid) process = processes.process(*window.pid);
  const ProcessInspector::ProfileArgument argument =
      process ? ProcessInspector::profileArgument(process->arguments)
              : ProcessInspector::ProfileArgument{};
  switch (browser->definition.family) {
    case BrowserFamily::chromium:
      // One Chromium process shows the windows of every profile; its command line names only
      // the profile it was started with, so the title is asked first.
      if (window.title) {
        if (auto profile = profileInTitle(*browser, *window.title)) return profile;
      }
      if (argument.name) return profileWithID(*browser, *argument.name);
      return std::nullopt;
    case BrowserFamily::firefox:
      // Each Firefox profile runs in a process of its own.
      if (argument.folder) return profileWithFolder(*browser, *argument.folder);
      if (argument.name) return profileWithID(*browser, *argument.name);
      if (!process || !browser->definition.dataDir) return std::nullopt;
      if (auto folder = ProfileScanner::firefoxDefaultProfile(*browser->definition.dataDir)) {
        return profileWithFolder(*browser, *folder);
      }
      return std::nullopt;
    case BrowserFamily::safari:
    case BrowserFamily::other:
      return std::nullopt;
  }
  return std::nullopt;
}

std::optional<std::string> of(const ActiveWindow& window, const BrowserCatalog& catalog,
                              const ProcessTable& processes) {
  std::optional<ProcessInfo> process;
  if (window.pid) process = processes.process(*window.pid);
  std::optional<std::string> userDataDir;
  if (process) userDataDir = ProcessInspector::userDataDir(process->arguments);

  if (const auto program = process ? canonical(process->executable) : std::nullopt) {
    for (const CatalogBrowser& browser : catalog.browsers) {
      if (canonical(browser.definition.appPath) == program) {
        return catalog.browserID(browser.definition.id, userDataDir);
      }
    }
  }
  for (const std::string& name : window.windowClass) {
    const std::string wanted = Text::asciiLowercased(name);
    for (const CatalogBrowser& browser : catalog.browsers) {
      if (Text::asciiLowercased(browser.definition.id) == wanted) {
        return catalog.browserID(browser.definition.id, userDataDir);
      }
    }
  }
  return std::nullopt;
}

}  // namespace linkferry::FrontmostBrowser
