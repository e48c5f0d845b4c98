#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "browsers/Workspace.h"

namespace linkferry {

// An application that opens web links (macOS).
struct InstalledApp {
  std::string bundleID;
  // The application bundle's path.
  std::string path;

  bool operator==(const InstalledApp&) const = default;
};

namespace InstalledApps {

// Applications that open web links but are never offered as browsers: this product, other link
// routers, terminals and virtual machine consoles.
const std::set<std::string>& excludedBundleIDs();

// Prefix of the Windows applications a Parallels virtual machine exposes to macOS.
inline constexpr const char* kParallelsWindowsAppPrefix = "com.parallels.winapp.";

// The probe the workspace is asked about: any https link stands for all of them.
inline constexpr const char* kProbeURL = "https://example.com/";

// The applications the workspace offers for an https link, in its order, without those that
// have no bundle identifier, `excluding` (the caller's own identifier), the excluded set,
// Parallels' Windows applications, copies in caches ("/Library/Caches/") and applications
// nested in another bundle (".app/Contents/"). Only the first application per identifier is kept.
std::vector<InstalledApp> httpHandlers(const Workspace& workspace,
                                       const std::optional<std::string>& excluding = std::nullopt);

}  // namespace InstalledApps
}  // namespace linkferry

template <>
struct std::hash<linkferry::InstalledApp> {
  std::size_t operator()(const linkferry::InstalledApp& app) const noexcept {
    std::hash<std::string> text;
    std::size_t hash = text(app.bundleID);
    return hash ^ (text(app.path) + 0x9e3779b97f4a7c15ull + (hash << 6) + (hash >> 2));
  }
};
