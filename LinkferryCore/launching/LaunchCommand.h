#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "browsers/BrowserCatalog.h"
#include "browsers/BrowserDefinition.h"
#include "browsers/BrowserTarget.h"
#include "foundation/URL.h"
#include "launching/CurrentTabSupport.h"
#include "launching/LaunchPlan.h"
#include "launching/LaunchPlatform.h"
#include "launching/OpenOptions.h"
#include "routing/RouteTarget.h"

// Turns a routing decision into the exact command line that opens it: `/usr/bin/open` (or
// `/usr/bin/osascript` for the current tab) on macOS, the browser's own program or
// `/usr/bin/env gtk-launch` on Linux. The helper's policy accepts exactly these shapes, so any
// change here must be mirrored there.
//
// Every builder is pure: it reads only its arguments, may run on any thread, and fails only
// through `resolve` (LaunchError::unknownBrowser, LaunchError::unknownProfile), or with
// std::invalid_argument for a link without a scheme. A link always has a scheme and always comes
// after every flag, so no link can ever be read as a flag.
//
// What a browser cannot do never fails a plan: it becomes a warning, or is dropped.
namespace linkferry::LaunchCommand {

// The program of every macOS browser and app plan.
inline constexpr std::string_view kOpenExecutable = "/usr/bin/open";
// The program of a macOS current-tab plan.
inline constexpr std::string_view kOsascriptExecutable = "/usr/bin/osascript";
// The program of a Linux app plan; its first argument is kGtkLaunch.
inline constexpr std::string_view kEnvExecutable = "/usr/bin/env";
inline constexpr std::string_view kGtkLaunch = "gtk-launch";

inline constexpr std::string_view kContainerWarning =
    "Firefox containers need the companion extension; opening without container";
inline constexpr std::string_view kLinuxBackgroundWarning =
    "opening in the background is not available on Linux";
inline constexpr std::string_view kLinuxCurrentTabWarning =
    "current tab is not available on Linux: opened in a new tab";
inline constexpr std::string_view kCurrentTabFallbackNote =
    "current tab could not be used, opened in a new tab";

// "private mode is not supported for " + name.
std::string privateModeWarning(std::string_view browserName);
// "new window is not supported for " + name + " (its own setting decides)".
std::string newWindowWarning(std::string_view browserName);

// The plan that opens `url` at `target`; nothing for RouteTarget::ignore. On Linux this is
// linuxPlan. On macOS: "/usr/bin/open" with ["-g"] first for a background link, then
//   openInApp:  "-b", bundle id, link
//   openLink:   "-b", bundle id, the rewritten link (it replaces `url`)
//   open:       chromium  "-na", app, "--args", chromiumFlags, ["--new-window"], link
//               firefox   "-na", app, "--args", ["-P", profile], "--private-window" |
//               "--new-window"
//                         | "--new-tab", link (container warning when a container is named)
//               others    "-a", app, link (private-mode, then new-window warnings)
// and openIn == currentTab hands an `open` target to currentTabPlan. Profiles and containers a
// family cannot use are dropped without a warning (containers everywhere, profiles on Safari and
// other browsers). Throws LaunchError (unknown browser or profile) and std::invalid_argument
// (a link without a scheme).
std::optional<LaunchPlan> plan(const RouteTarget& target, const URL& url,
                               const BrowserCatalog& catalog, const OpenOptions& options,
                               LaunchPlatform platform);

// The plan that starts or brings up the browser of `target` (profile, private window, new
// window) without opening a link. On Linux this is linuxPlanWithoutURL. On macOS:
// "/usr/bin/open" "-na", app, "--args", flags when the family has flags for the target, else
// "-a", app; the background option is not used. Throws LaunchError like `plan`.
LaunchPlan planWithoutURL(const BrowserTarget& target, const BrowserCatalog& catalog,
                          const OpenOptions& options, LaunchPlatform platform);

// The catalog browser of `target`: the first with its identifier, which must list the target's
// profile when it names one (a browser whose data is unreadable lists none). The reference lives
// as long as `catalog`. Throws LaunchError::unknownBrowser or LaunchError::unknownProfile.
const CatalogBrowser& resolve(const BrowserTarget& target, const BrowserCatalog& catalog);

// Chromium's flags for `target`, in this order: "--user-data-dir=" + data folder (only for a
// definition with an explicit data folder, a separate instance), "--profile-directory=" + profile
// (the profile's folder name), "--incognito" when private.
std::vector<std::string> chromiumFlags(const BrowserTarget& target,
                                       const BrowserDefinition& definition);

// The Linux branch of `plan`. Warnings start with kLinuxBackgroundWarning for a background link.
//   openInApp / openLink:  "/usr/bin/env" "gtk-launch", desktop id, link
//   open:  the definition's program, its Exec arguments, then the family's flags as on macOS
//          (no "open" options), then the link. The current tab becomes a new tab with
//          kLinuxCurrentTabWarning (none for private targets).
// No fallbacks, no note. Throws like `plan`.
std::optional<LaunchPlan> linuxPlan(const RouteTarget& target, const URL& url,
                                    const BrowserCatalog& catalog, const OpenOptions& options);

// The Linux branch of `planWithoutURL`: the definition's program, its Exec arguments, then
// chromium: chromiumFlags + ["--new-window"]; firefox: ["-P", profile] + ["--private-window"];
// others: nothing (private-mode warning). Background and current tab are ignored.
LaunchPlan linuxPlanWithoutURL(const BrowserTarget& target, const BrowserCatalog& catalog,
                               const OpenOptions& options);

// --- The current tab (macOS only: it needs AppleScript) ---

// Whether `target`'s link can go into the front window's current tab; the first rule that applies
// wins: private → privateWindow; Linux, or a browser the catalog lacks → notScriptable; neither
// the browser nor another catalog definition with the same application path (other instances of
// the same application, in catalog order) has a tab property → notScriptable; an explicit data
// folder or such other instances → separateInstance; two or more discovered profiles →
// severalProfiles; else available.
CurrentTabSupport currentTabSupport(const BrowserTarget& target, const BrowserCatalog& catalog,
                                    LaunchPlatform platform);

// The macOS current-tab plan: "/usr/bin/osascript" "-e" line 1 … "-e" line N, then the link as the
// script's only argument; its warnings are those of its single fallback, the new-tab plan with the
// same background flag, and its note is kCurrentTabFallbackNote. When the current tab cannot be
// used the new-tab plan comes back instead, with a warning naming the reason (silently for a
// private target). Nothing when the new-tab plan is nothing. Throws like `plan`.
std::optional<LaunchPlan> currentTabPlan(const BrowserTarget& target, const URL& url,
                                         const BrowserCatalog& catalog, const OpenOptions& options);

// The scripting name of the front window's tab for a browser's bundle identifier: "current tab"
// (Safari and its kin), "active tab" (Chromium browsers and Arc); nothing for any other browser.
std::optional<std::string_view> tabProperty(std::string_view bundleID);

// The lines of the script that sets the front window's tab `tab` of the application `bundleID` to
// the script's first argument, each passed after its own "-e". It refuses to start the browser
// ("not running"), refuses a browser without windows ("no window") and gives up after 10 seconds;
// "activate" is left out for a background link (9 lines instead of 10). The link is never part
// of the script text.
std::vector<std::string> currentTabScript(std::string_view bundleID, std::string_view tab,
                                          bool background);

// --- Enumeration, for checks that must cover every shape the builders make ---

// Every plan the builders make for `catalog` and `url` on `platform`, in a fixed order: for each
// browser and each of its targets (the browser alone and each discovered profile, and for every
// profile also each of its containers), private or not, through `plan` with every OpenIn and
// both background flags, and through `planWithoutURL` with every OpenIn; then `openInApp` and
// `openLink` (to `url`) with each browser's identifier, in and out of the background. Catalog
// targets always resolve, so nothing is thrown for them; `url` must have a scheme.
std::vector<LaunchPlan> allPlans(const BrowserCatalog& catalog, const URL& url,
                                 LaunchPlatform platform);

}  // namespace linkferry::LaunchCommand
