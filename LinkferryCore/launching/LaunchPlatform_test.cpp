#include "launching/LaunchPlatform.h"

#include <gtest/gtest.h>

namespace linkferry {
namespace {

TEST(LaunchPlatform, RawValuesRoundTrip) {
  for (LaunchPlatform platform : allLaunchPlatforms) {
    EXPECT_EQ(launchPlatformFromString(toString(platform)), platform);
  }
  EXPECT_EQ(toString(LaunchPlatform::macOS), "macOS");
  EXPECT_EQ(toString(LaunchPlatform::linux), "linux");
  EXPECT_EQ(launchPlatformFromString("macos"), std::nullopt);
  EXPECT_EQ(currentLaunchPlatform(), LaunchPlatform::linux);
}

}  // namespace
}  // namespace linkferry
