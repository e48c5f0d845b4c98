#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
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
  // process passes the environment each click came with.
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

}  // namespace linkferry::LinuxContext
