#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "ActiveNetworks.h"
#include "ActiveWindow.h"
#include "ScreenLock.h"
#include "SourceApp.h"
#include "browsers/BrowserCatalog.h"
#include "routing/RoutingContext.h"
#include "settings/AppSettings.h"

namespace linkferry::LinuxContext {

// Where the facts of a click come from. Every source gives "unknown" rather than wait: each
// answers in well under a millisecond on a working desktop, and its limit (tens of milliseconds,
// so that a busy machine still gets its answers and the user's rules still apply) binds only when
// a display or service is stuck.
struct Sources {
  std::shared_ptr<const ActiveWindowSource> window;
  std::shared_ptr<const ScreenLockSource> screenLock;
  std::shared_ptr<const NetworkSource> networks;
  std::shared_ptr<const ProcessTable> processes;

  // The real sources for the session `environment` describes (its DISPLAY, XAUTHORITY,
  // XDG_SESSION_ID, DBUS_SYSTEM_BUS_ADDRESS), which need not be this process's own: a long-lived
  // process passes the environment each click came with. Each connects afresh on every call.
  static Sources forEnvironment(const std::map<std::string, std::string>& environment,
                                const std::filesystem::path& home);
};

// A click's routing context together with the title of the window it came from.
struct Click {
  RoutingContext context;
  // The active window's title; absent when unknown or when `useSourceWindow` is off.
  std::optional<std::string> sourceWindow;
};

// The routing context of a link clicked now on this Linux machine: the current time and the
// user's calendar, the desktop apps that declare a handler for an app link's scheme (from the
// desktop entries found through `environment`), the screen lock (logind) and the active networks
// (NetworkManager). What this machine cannot tell is left absent (the last used browser; the lock
// state counts as unlocked), never guessed. Never fails.
RoutingContext current(const std::filesystem::path& home,
                       const std::map<std::string, std::string>& environment);

// `current`, and from the active window: the frontmost browser (the window's owner when it is a
// browser of `catalog`) and, when `settings.useSourceWindow` is on, the window's title. Never
// fails.
Click click(const std::filesystem::path& home,
            const std::map<std::string, std::string>& environment, const BrowserCatalog& catalog,
            const AppSettings& settings);
Click click(const std::filesystem::path& home,
            const std::map<std::string, std::string>& environment, const BrowserCatalog& catalog,
            const AppSettings& settings, const Sources& sources);

// The apps that declare a handler for an app link's scheme among the desktop entries found
// through `environment` (read now).
std::set<std::string> installedApps(const std::filesystem::path& home,
                                    const std::map<std::string, std::string>& environment);

// The context of clicks for a long-lived process: the display and system bus connections are
// kept from one click to the next (by display and cookie, by bus address; several at once for
// clicks gathered at once), and one found dead is replaced within the click that finds it, so a
// restarted X server or bus costs no click its context. Every source keeps its time limit, so a
// silent display or bus costs a click at most that limit. Safe from any thread.
class Gatherer {
 public:
  using Environment = std::map<std::string, std::string>;
  using Duration = std::chrono::steady_clock::duration;

  // Connections kept idle at most, per kind.
  static constexpr std::size_t kKeptConnections = 4;

  // At the sources' default limits.
  explicit Gatherer(std::filesystem::path home);
  Gatherer(std::filesystem::path home, Duration windowLimit, Duration busLimit);

  // The sources of a click in `environment`, over this gatherer's connections.
  Sources sources(const Environment& environment) const;

  // `click` of a click in `environment`, with the `installedApps` the caller keeps (see
  // AppLinks::linuxInstalledApps), so that no desktop entry is read. Never fails.
  Click click(const Environment& environment, std::set<std::string> installedApps,
              const BrowserCatalog& catalog, const AppSettings& settings) const;

 private:
  std::filesystem::path m_home;
  Duration m_windowLimit;
  Duration m_busLimit;
  std::shared_ptr<X11Connections> m_displays;
  std::shared_ptr<SystemBusConnections> m_buses;
  std::shared_ptr<const ProcessTable> m_processes;
};

}  // namespace linkferry::LinuxContext
