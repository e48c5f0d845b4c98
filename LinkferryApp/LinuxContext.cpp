#include "LinuxContext.h"

#include <exception>
#include <future>
#include <memory>

#include "FrontmostBrowser.h"
#include "browsers/DesktopEntries.h"
#include "foundation/Dates.h"
#include "foundation/Timeout.h"
#include "preparation/AppLinks.h"

namespace linkferry::LinuxContext {
namespace {

struct Gathered {
  RoutingContext context;
  std::optional<ActiveWindow> window;
};

// `ask()` on one of the long-lived timeout workers (starting a thread would cost a click more
// than a warm source's answer); its result comes through the future.
template <typename Ask>
auto elsewhere(Ask ask) {
  using Result = decltype(ask());
  auto promise = std::make_shared<std::promise<Result>>();
  auto result = promise->get_future();
  TimeoutWorkers::run([promise, ask = std::move(ask)] {
    try {
      promise->set_value(ask());
    } catch (...) {
      promise->set_exception(std::current_exception());
    }
  });
  return result;
}

// Time, calendar, installed apps, lock, networks and, when asked for, the active window. The two
// bus sources are asked on other threads while this one reads the display, so a click waits for
// the slowest source, not for all of them in turn; each is bounded, so this is too.
Gathered gather(const Sources& sources, std::set<std::string> installedApps, bool withWindow) {
  const Date now = Date::now();
  auto networks = elsewhere([networks = sources.networks] { return networks->activeNetworks(); });
  auto locked = elsewhere([lock = sources.screenLock] { return lock->screenLocked(); });
  std::optional<ActiveWindow> window;
  if (withWindow) window = sources.window->activeWindow();
  // Named, not temporaries: GCC 12 reports temporaries of optional strings as maybe-uninitialized.
  const std::optional<std::string> unknownBrowser;
  RoutingContext context(unknownBrowser, unknownBrowser, networks.get(), now, Calendar::current());
  context.installedApps = std::move(installedApps);
  context.screenLocked = locked.get().value_or(false);
  return Gathered{std::move(context), std::move(window)};
}

Click clickOf(Gathered gathered, const BrowserCatalog& catalog, const AppSettings& settings,
              const ProcessTable& processes) {
  Click result{std::move(gathered.context), std::nullopt};
  if (gathered.window) {
    result.context.frontmostBrowser = FrontmostBrowser::of(*gathered.window, catalog, processes);
    if (result.context.frontmostBrowser) {
      result.context.frontmostProfile = FrontmostBrowser::profileOf(
          *gathered.window, *result.context.frontmostBrowser, catalog, processes);
    }
    if (settings.useSourceWindow) result.sourceWindow = gathered.window->title;
  }
  return result;
}

}  // namespace

Sources Sources::forEnvironment(const std::map<std::string, std::string>& environment,
                                const std::filesystem::path& home) {
  return Sources{std::make_shared<X11ActiveWindowSource>(environment, home),
                 std::make_shared<LogindScreenLock>(environment),
                 std::make_shared<NetworkManagerNetworks>(environment),
                 std::make_shared<ProcProcessTable>()};
}

std::set<std::string> installedApps(const std::filesystem::path& home,
                                    const std::map<std::string, std::string>& environment) {
  return AppLinks::linuxInstalledApps(
      DesktopEntries::load(DesktopEntries::applicationDirectories(home, environment)));
}

RoutingContext current(const std::filesystem::path& home,
                       const std::map<std::string, std::string>& environment) {
  return gather(Sources::forEnvironment(environment, home), installedApps(home, environment), false)
      .context;
}

Click click(const std::filesystem::path& home,
            const std::map<std::string, std::string>& environment, const BrowserCatalog& catalog,
            const AppSettings& settings) {
  return click(home, environment, catalog, settings, Sources::forEnvironment(environment, home));
}

Click click(const std::filesystem::path& home,
            const std::map<std::string, std::string>& environment, const BrowserCatalog& catalog,
            const AppSettings& settings, const Sources& sources) {
  return clickOf(gather(sources, installedApps(home, environment), true), catalog, settings,
                 *sources.processes);
}

Gatherer::Gatherer(std::filesystem::path home)
    : Gatherer(std::move(home), X11ActiveWindowSource::kDefaultLimit,
               LogindScreenLock::kDefaultLimit) {}

Gatherer::Gatherer(std::filesystem::path home, Duration windowLimit, Duration busLimit)
    : m_home(std::move(home)),
      m_windowLimit(windowLimit),
      m_busLimit(busLimit),
      m_displays(std::make_shared<X11Connections>(kKeptConnections)),
      m_buses(std::make_shared<SystemBusConnections>(kKeptConnections)),
      m_processes(std::make_shared<ProcProcessTable>()) {}

Sources Gatherer::sources(const Environment& environment) const {
  return Sources{
      std::make_shared<X11ActiveWindowSource>(environment, m_home, m_windowLimit, m_displays),
      std::make_shared<LogindScreenLock>(environment, m_busLimit, m_buses),
      std::make_shared<NetworkManagerNetworks>(environment, m_busLimit, m_buses), m_processes};
}

Click Gatherer::click(const Environment& environment, std::set<std::string> installedApps,
                      const BrowserCatalog& catalog, const AppSettings& settings) const {
  const Sources sources = this->sources(environment);
  return clickOf(gather(sources, std::move(installedApps), true), catalog, settings, *m_processes);
}

}  // namespace linkferry::LinuxContext
