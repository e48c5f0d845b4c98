#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "browsers/BrowserDefinition.h"
#include "browsers/BrowserProfile.h"
#include "browsers/BrowserTarget.h"
#include "browsers/DesktopEntries.h"
#include "browsers/DesktopEntry.h"
#include "browsers/DesktopExec.h"
#include "browsers/InstalledApps.h"
#include "browsers/ProfileAvatar.h"

namespace linkferry {

// One browser of the catalog with the profiles discovered in its data folder.
struct CatalogBrowser {
  BrowserDefinition definition;
  // In discovery order.
  std::vector<BrowserProfile> profiles;
  // The data folder is there but may not be read, so the profiles are unknown (not absent).
  bool dataBlocked = false;

  // One target per profile in profile order, or, without profiles, one with only the browser.
  // Containers and private windows are never listed.
  std::vector<BrowserTarget> targets() const;

  bool operator==(const CatalogBrowser&) const = default;
};

// How a target written by the user (in a rule) was understood against a catalog.
struct TargetResolution {
  // The target with the catalog's identifiers for every part that was found; a part that was
  // not found stays as written, so the caller can still say which one is missing.
  BrowserTarget target;
  // One line per part written otherwise than its identifier: `profile "work" is "Profile 1"`.
  std::vector<std::string> renamed = {};
  // One line per name that fits several parts, saying which one is used.
  std::vector<std::string> ambiguous = {};

  bool operator==(const TargetResolution&) const = default;
};

// The browsers, profiles and containers of this machine: an immutable value, built once by
// discovery and shared as std::shared_ptr<const BrowserCatalog>. Its order is the default order
// of targets everywhere. Lookups never fail; safe to read from any thread.
struct BrowserCatalog {
  std::vector<CatalogBrowser> browsers;

  // macOS: one definition per installed application (well-known browsers get their family and
  // data folder below `appSupport`, the rest are `other` browsers named after the bundle file),
  // then the custom definitions merged in, then the profiles of each read from disk.
  static BrowserCatalog discover(const std::vector<InstalledApp>& installed,
                                 const std::vector<BrowserDefinition>& custom,
                                 const std::filesystem::path& appSupport);

  // Linux: one definition per desktop entry (well-known browsers get their family and data
  // folder below `home`, the rest are `other` browsers under the entry's name); the program is
  // the entry's first Exec argument resolved on `searchPath` (the default search path when
  // absent) and the rest of Exec becomes its launch arguments. Where two entries would get one
  // known name (Firefox and Firefox ESR), each keeps its entry's own name. Custom definitions and
  // profiles as on macOS.
  static BrowserCatalog discover(const std::vector<DesktopEntry>& desktopEntries,
                                 const std::vector<BrowserDefinition>& custom,
                                 const std::filesystem::path& home,
                                 const std::optional<std::string>& searchPath,
                                 const DesktopExec::ExecutablePredicate& isExecutable);

  // Linux, all steps: the web-link handlers among the desktop entries found through
  // `environment` (XDG_DATA_HOME, XDG_DATA_DIRS), programs resolved on its PATH with a test for
  // executable regular files, then `discover` above.
  static BrowserCatalog discoverLinux(const std::filesystem::path& home,
                                      const DesktopEntries::Environment& environment,
                                      const std::vector<BrowserDefinition>& custom);

  // The shared last steps of discovery: each custom definition replaces the discovered one with
  // the same id in place, or is appended; then every browser's profiles are read (Chromium and
  // Firefox families with a data folder) and `dataBlocked` set for those without profiles whose
  // data may not be read.
  static BrowserCatalog withDefinitions(std::vector<BrowserDefinition> discovered,
                                        const std::vector<BrowserDefinition>& custom);

  // The user's browsers.json: a JSON array of definitions. No file means none. Throws
  // std::system_error when the file cannot be read and JsonError when it is not valid JSON or any
  // entry is malformed; the error names the file and the entry ("[2].family"), and one bad
  // entry fails the whole file.
  static std::vector<BrowserDefinition> loadCustomDefinitions(const std::filesystem::path& file);

  // The first browser with this id, or null. The pointer lives as long as this catalog.
  const CatalogBrowser* browser(std::string_view id) const;

  // What a target names, as `linkferry browsers` shows it, compared without regard to case:
  // - the browser by its id, else by its name or a common name of the same browser ("firefox"
  //   for Debian's "firefox-esr", "chrome" for "google-chrome");
  // - the profile by its id (Chromium's folder name, Firefox's profile name), else by its
  //   display name ("Work" for "Profile 1"), else by its folder's name;
  // - the container by its id, else by its name ("Banking" for "3"), in the named profile or,
  //   without one, in any profile of the browser.
  // An exact identifier always wins; among names that fit several, the first in catalog order
  // is used and `ambiguous` says so. Never fails.
  TargetResolution resolve(const BrowserTarget& written) const;

  // The targets of all browsers in catalog order.
  std::vector<BrowserTarget> allTargets() const;

  // The profile a target names, or null when it names none or its browser or profile is not in
  // the catalog. The pointer lives as long as this catalog.
  const BrowserProfile* profile(const BrowserTarget& target) const;

  // What the target's button shows: for a container of a known profile, the container's initial
  // on its Firefox colour (or the stable colour of its name) in white; otherwise the profile's
  // initial on its own colour (or the stable colour of its name), its text colour (or white)
  // and its picture. Nothing unless the target names a known profile.
  std::optional<ProfileAvatar> avatar(const BrowserTarget& target) const;

  // The browsers whose data may not be read, in catalog order.
  std::vector<CatalogBrowser> blockedBrowsers() const;

  // The catalog browser a running browser process belongs to: the one with an explicit user data
  // folder equal to `userDataDir` (both with "~" expanded and standardized), else the browser
  // whose id is `bundleID`; nothing when neither is in the catalog.
  std::optional<std::string> browserID(const std::string& bundleID,
                                       const std::optional<std::string>& userDataDir) const;

  bool operator==(const BrowserCatalog&) const = default;
};

}  // namespace linkferry

template <>
struct std::hash<linkferry::CatalogBrowser> {
  std::size_t operator()(const linkferry::CatalogBrowser& browser) const noexcept {
    std::size_t hash = std::hash<linkferry::BrowserDefinition>()(browser.definition);
    auto mix = [&hash](std::size_t value) {
      hash ^= value + 0x9e3779b97f4a7c15ull + (hash << 6) + (hash >> 2);
    };
    for (const auto& profile : browser.profiles)
      mix(std::hash<linkferry::BrowserProfile>()(profile));
    mix(browser.dataBlocked ? 1 : 2);
    return hash;
  }
};
