#include "LinuxContext.h"

#include <future>

#include "FrontmostBrowser.h"
#include "browsers/DesktopEntries.h"
#include "foundation/Dates.h"
#include "preparation/AppLinks.h"

namespace linkferry::LinuxContext {
namespace {

struct Gathered {
  RoutingContext context;
  std::optional<ActiveWindow> window;
};

// Time, calendar, installed apps, lock, networks and, when asked for, the active window. The two
// bus sources are asked on threads of their own while this one reads the display and scans the
// desktop entries, so a click waits for the slowest source, not for all of them in turn; each is
// bounded, so this is too.
Gathered gather(const std::filesystem::path& home,
                const std::map<std::string, std::string>& environment, const Sources& sources,
                bool withWindow) {
  const Date now = Date::now();
  auto networks = std::async(std::launch::async,
                             [networks = sources.networks] { return networks->activeNetworks(); });
  auto locked =
      std::async(std::launch::async, [lock = sources.screenLock] { return lock->screenLocked(); });
  std::optional<ActiveWindow> window;
  if (withWindow) window = sources.window->activeWindow();
  auto apps = AppLinks::linuxInstalledApps(
      DesktopEntries::load(DesktopEntries::applicationDirectories(home, environment)));
  // Named, not temporaries: GCC 12 reports temporaries of optional strings as maybe-uninitialized.
  const std::optional<std::string> unknownBrowser;
  RoutingContext context(unknownBrowser, unknownBrowser, networks.get(), now, Calendar::current());
  context.installedApps = std::move(apps);
  context.screenLocked = locked.get().value_or(false);
  return Gathered{std::move(context), std::move(window)};
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
  return gather(home, environment, Sources::forEnvironment(environment, home), false).context;
}

Click click(const std::filesystem::path& home,
            const std::map<std::string, std::string>& environment, const BrowserCatalog& catalog,
            const AppSettings& settings) {
  return click(home, environment, catalog, settings, Sources::forEnvironment(environment, home));
}

Click click(const std::filesystem::path& home,
            const std::map<std::string, std::string>& environment, const BrowserCatalog& catalog,
            const AppSettings& settings, const Sources& sources) {
  Gathered gathered = gather(home, environment, sources, true);
  Click result{std::move(gathered.context), std::nullopt};
  if (gathered.window) {
    result.context.frontmostBrowser =
        FrontmostBrowser::of(*gathered.window, catalog, *sources.processes);
    if (settings.useSourceWindow) result.sourceWindow = gathered.window->title;
  }
  return result;
}

}  // namespace linkferry::LinuxContext
