#include "launching/LaunchPlatform.h"

namespace linkferry {

std::string_view toString(LaunchPlatform platform) {
  switch (platform) {
    case LaunchPlatform::macOS:
      return "macOS";
    case LaunchPlatform::linux:
      return "linux";
  }
  return "linux";
}

std::optional<LaunchPlatform> launchPlatformFromString(std::string_view text) {
  for (LaunchPlatform candidate : allLaunchPlatforms) {
    if (toString(candidate) == text) return candidate;
  }
  return std::nullopt;
}

}  // namespace linkferry
