#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "browsers/DesktopEntry.h"
#include "foundation/URL.h"

namespace linkferry {

// A web service whose links are better opened in its desktop app, and how a web link of it becomes
// the link the app opens. Identified by `id`.
struct AppLink {
  // Stable key, also the key of the override map of the settings.
  std::string id;
  // The app's display name.
  std::string name;
  // The macOS app's bundle identifiers, most preferred first.
  std::vector<std::string> bundleIDs;
  // The desktop identifiers (as DesktopEntry::id, without ".desktop") of the app's Linux builds:
  // the service's own Debian/RPM package, then its Flathub and Snap builds. Empty for a service
  // without a Linux app.
  std::vector<std::string> desktopIDs;
  // The scheme of the links the transform makes. On Linux the app is started through the desktop
  // entry that declares "x-scheme-handler/" + this scheme.
  std::string scheme;
  // Whether the entry is on when no override says otherwise.
  bool defaultEnabled = true;
  // An example link shown to the user.
  std::string example;
  // The app's link for a matching web link; nothing when the link does not match.
  std::function<std::optional<URL>(const URL&)> transform;

  // Applies `transform`. Pure; any thread.
  std::optional<URL> link(const URL& url) const;

  // Everything but the transform, which is fixed per `id`.
  bool operator==(const AppLink& other) const;
};

// The fixed table of app links, built once on first use (safe from any thread, never destroyed).
namespace AppLinks {

// The ten services, in the order they are tried and shown.
const std::vector<AppLink>& all();

// Every bundle identifier of the table in table order.
const std::vector<std::string>& allBundleIDs();
// Every Linux desktop identifier of the table in table order.
const std::vector<std::string>& allDesktopIDs();

// The override for `link.id` when the map has one, else `link.defaultEnabled`.
bool isEnabled(const AppLink& link, const std::map<std::string, bool>& overrides);

struct Match {
  AppLink link;
  // The installed identifier that opens it: a bundle identifier on macOS, a desktop identifier
  // on Linux.
  std::string bundleID;
  // The app's link.
  URL url;

  bool operator==(const Match&) const = default;
};

// The first enabled entry, in table order, that has an installed app (its bundle identifiers,
// then its desktop identifiers, the first one in `installed` chosen) and whose transform takes
// `url`. Nothing when none does. Pure; any thread.
std::optional<Match> match(const URL& url, const std::set<std::string>& installed,
                           const std::map<std::string, bool>& overrides);

// The Linux installed apps that can open app links: the identifiers of those `entries` that are
// the Linux build of an entry of the table and declare its scheme handler
// ("x-scheme-handler/<scheme>" in MimeType, compared without regard to case). A desktop entry
// that does not declare it would be started without the link. This is what a Linux routing
// context holds in `installedApps`.
std::set<std::string> linuxInstalledApps(const std::vector<DesktopEntry>& entries);

}  // namespace AppLinks
}  // namespace linkferry
