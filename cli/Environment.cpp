#include "Environment.h"

#include <string_view>
#include <system_error>
#include <vector>

#include "Command.h"
#include "foundation/Files.h"
#include "settings/LinkferryPaths.h"

extern char** environ;

namespace linkferry::cli {

std::map<std::string, std::string> processEnvironment() {
  std::map<std::string, std::string> environment;
  for (char** variable = environ; variable && *variable; ++variable) {
    std::string_view entry(*variable);
    const auto equals = entry.find('=');
    if (equals == std::string_view::npos) continue;
    environment.emplace(std::string(entry.substr(0, equals)),
                        std::string(entry.substr(equals + 1)));
  }
  return environment;
}

BrowserCatalog machineCatalog() {
  const std::map<std::string, std::string> environment = processEnvironment();
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

}  // namespace linkferry::cli
