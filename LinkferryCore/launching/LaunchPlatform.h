#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace linkferry {

// The platform a launch plan is built for. Builders take it as a parameter, so macOS plans are
// built and tested on Linux too. Stored as "macOS" and "linux". (The case `linux` relies on the
// build using standard C++ without GNU extensions, where `linux` is no predefined macro.)
enum class LaunchPlatform {
  macOS,
  linux,
};

inline constexpr std::array<LaunchPlatform, 2> allLaunchPlatforms = {LaunchPlatform::macOS,
                                                                     LaunchPlatform::linux};

std::string_view toString(LaunchPlatform platform);
// Nothing for any text that is not exactly "macOS" or "linux".
std::optional<LaunchPlatform> launchPlatformFromString(std::string_view text);

// The platform this program is built for. Only the Linux programs are built from this tree (the
// macOS application is not), so this is always LaunchPlatform::linux.
constexpr LaunchPlatform currentLaunchPlatform() {
  return LaunchPlatform::linux;
}

}  // namespace linkferry
