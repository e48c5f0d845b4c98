#include "LinuxContext.h"

#include "browsers/DesktopEntries.h"
#include "foundation/Dates.h"
#include "preparation/AppLinks.h"

namespace linkferry::LinuxContext {

RoutingContext current(const std::filesystem::path& home,
                       const std::map<std::string, std::string>& environment) {
  // Named, not temporaries: GCC 12 reports temporaries of optional strings as maybe-uninitialized.
  const std::optional<std::string> unknownBrowser;
  RoutingContext context(unknownBrowser, unknownBrowser, {}, Date::now(), Calendar::current());
  context.installedApps = AppLinks::linuxInstalledApps(
      DesktopEntries::load(DesktopEntries::applicationDirectories(home, environment)));
  return context;
}

}  // namespace linkferry::LinuxContext
