#include "LinuxContext.h"

#include "FrontmostBrowser.h"
#include "browsers/DesktopEntries.h"
#include "foundation/Dates.h"
#include "preparation/AppLinks.h"

namespace linkferry::LinuxContext {
namespace {

// The context without the window: time, calendar, installed apps, lock and networks.
RoutingContext withoutWindow(const std::filesystem::path& home,
                             const std::map<std::string, std::string>& environment,
                             const Sources& sources) {
  // Named, not temporaries: GCC 12 reports temporaries of optional strings as maybe-uninitialized.
  const std::optional<std::string> unknownBrowser;
  RoutingContext context(unknownBrowser, unknownBrowser, sources.networks->activeNetworks(),
                         Date::now(), Calendar::current());
  context.installedApps = AppLinks::linuxInstalledApps(
      DesktopEntries::load(DesktopEntries::applicationDirectories(home, environment)));
  context.screenLocked = sources.screenLock->screenLocked().value_or(false);
  return context;
}

}  // namespace

Sources Sources::forEnvironment(const std::map<std::string, std::string>& environment,
                                const std::filesystem::path& home) {
  return Sources{std::make_shared<X11ActiveWindowSource>(environment, home),
                 std::make_shared<LogindScreenLock>(environment),
                 std::make_shared<NetworkManagerNetworks>(environment),
                 std::make_shared<ProcProcessTable>()};
}

RoutingContext current(const std::filesystem::path& home,
                       const std::map<std::string, std::string>& environment) {
  return withoutWindow(home, environment, Sources::forEnvironment(environment, home));
}

Click click(const std::filesystem::path& home,
            const std::map<std::string, std::string>& environment, const BrowserCatalog& catalog,
            const AppSettings& settings) {
  return click(home, environment, catalog, settings, Sources::forEnvironment(environment, home));
}

Click click(const std::filesystem::path& home,
            const std::map<std::string, std::string>& environment, const BrowserCatalog& catalog,
            const AppSettings& settings, const Sources& sources) {
  Click result{withoutWindow(home, environment, sources), std::nullopt};
  if (const auto window = sources.window->activeWindow()) {
    result.context.frontmostBrowser = FrontmostBrowser::of(*window, catalog, *sources.processes);
    if (settings.useSourceWindow) result.sourceWindow = window->title;
  }
  return result;
}

}  // namespace linkferry::LinuxContext
