#include "browsers/InstalledApps.h"

#include <unordered_set>

#include "foundation/Text.h"

namespace linkferry::InstalledApps {

const std::set<std::string>& excludedBundleIDs() {
  static const auto& ids = *new std::set<std::string>{
      "com.k4t.linkferry",              // this product's own application
      "com.sindresorhus.Velja",         // Velja
      "net.kassett.finicky",            // Finicky (first edition)
      "se.johnste.finicky",             // Finicky
      "com.choosyosx.Choosy",           // Choosy
      "com.choosyosx.ChoosyHelper",     // Choosy's helper edition
      "com.browserosaurus",             // Browserosaurus
      "com.googlecode.iterm2",          // iTerm2
      "com.apple.Terminal",             // Terminal
      "dev.warp.Warp-Stable",           // Warp
      "com.mitchellh.ghostty",          // Ghostty
      "com.parallels.desktop.console",  // Parallels Desktop
  };
  return ids;
}

std::vector<InstalledApp> httpHandlers(const Workspace& workspace,
                                       const std::optional<std::string>& excluding) {
  const auto probe = URL::parse(kProbeURL);
  if (!probe) return {};
  std::vector<InstalledApp> apps;
  std::unordered_set<std::string> seen;
  for (const std::string& path : workspace.applicationsToOpen(*probe)) {
    auto bundleID = workspace.bundleIdentifier(path);
    if (!bundleID) continue;
    if (excluding && *bundleID == *excluding) continue;
    if (excludedBundleIDs().count(*bundleID) != 0) continue;
    if (Text::startsWith(*bundleID, kParallelsWindowsAppPrefix)) continue;
    if (Text::contains(path, "/Library/Caches/") || Text::contains(path, ".app/Contents/"))
      continue;
    if (!seen.insert(*bundleID).second) continue;
    apps.push_back(InstalledApp{*bundleID, path});
  }
  return apps;
}

}  // namespace linkferry::InstalledApps
