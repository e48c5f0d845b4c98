#include "FrontmostBrowser.h"

#include <system_error>

#include "browsers/ProcessInspector.h"
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

}  // namespace

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
