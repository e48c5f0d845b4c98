#include "settings/LinkferryPaths.h"

#include "foundation/Files.h"
#include "foundation/Process.h"
#include "launching/Edition.h"

namespace linkferry {

std::filesystem::path LinkferryPaths::linuxConfigRoot(
    const std::map<std::string, std::string>& environment, const std::filesystem::path& home) {
  auto config = environment.find("XDG_CONFIG_HOME");
  if (config != environment.end() && config->second.starts_with("/")) {
    return std::filesystem::path(config->second) / "linkferry";
  }
  return home / ".config" / "linkferry";
}

LinkferryPaths LinkferryPaths::defaultPaths(const std::map<std::string, std::string>& environment,
                                            const std::filesystem::path& home) {
  auto explicitHome = environment.find("LINKFERRY_HOME");
  if (explicitHome != environment.end() && !explicitHome->second.empty()) {
    return LinkferryPaths(Files::expandTilde(explicitHome->second, home));
  }
  return LinkferryPaths(linuxConfigRoot(environment, home));
}

LinkferryPaths LinkferryPaths::defaultPaths() {
  return defaultPaths(Process::currentEnvironment(), Files::home());
}

std::filesystem::path LinkferryPaths::browserDataRoot() {
  return Edition::realHome() / "Library" / "Application Support";
}

}  // namespace linkferry
