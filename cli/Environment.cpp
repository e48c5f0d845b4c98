#include "Environment.h"

#include <system_error>
#include <vector>

#include "Command.h"
#include "foundation/Files.h"
#include "foundation/Process.h"
#include "foundation/Text.h"
#include "settings/LinkferryPaths.h"

namespace linkferry::cli {

BrowserCatalog machineCatalog() {
  const std::map<std::string, std::string> environment = Process::currentEnvironment();
  const std::filesystem::path home = Files::home();
  const LinkferryPaths paths = LinkferryPaths::defaultPaths(environment, home);
  std::vector<BrowserDefinition> custom;
  try {
    custom = BrowserCatalog::loadCustomDefinitions(paths.customBrowsers());
  } catch (const std::system_error& error) {
    // An unreadable browsers.json is the user's file to fix, like a malformed one.
    throw InputError(error.what());
  }
  return BrowserCatalog::discoverLinux(home, environment, custom);
}

bool holdsWhiteSpace(std::string_view text) {
  for (std::string_view character : Text::characters(text)) {
    if (Text::trimmed(character).size() != character.size()) return true;
  }
  return false;
}

}  // namespace linkferry::cli
