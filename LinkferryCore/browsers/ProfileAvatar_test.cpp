#include "browsers/ProfileAvatar.h"

#include <gtest/gtest.h>

namespace linkferry {
namespace {

TEST(ProfileAvatar, StableColorIsFnv1aOfTheBytes) {
  EXPECT_EQ(ProfileAvatar::stableColor("abc"), 0xFF188038u);  // hash 440920331 % 10 == 1
  EXPECT_EQ(ProfileAvatar::stableColor(""), 0xFF188038u);
  // FNV-1a of "a" is 0xE40C292C = 3826002220, index 0.
  EXPECT_EQ(ProfileAvatar::stableColor("a"), 0xFF1A73E8u);
  // Bytes above 0x7F are hashed unsigned: FNV-1a of C3 A9 ("é") is 513665217, index 7.
  EXPECT_EQ(ProfileAvatar::stableColor("\xC3\xA9"), 0xFF5F6368u);
}

TEST(ProfileAvatar, InitialIsTheFirstLetterOrDigitUpperCased) {
  const struct {
    const char* name;
    const char* initial;
  } cases[] = {{"  (work)", "W"}, {"...", "?"},  {"", "?"},     {"-7up", "7"},
               {"élan", "É"},     {"😀 ok", "O"}, {"日本", "日"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ProfileAvatar::initialOf(c.name), c.initial);
  }
}

TEST(ProfileAvatar, FirefoxColorsIgnoreCase) {
  EXPECT_EQ(ProfileAvatar::firefoxColor("Orange"), 0xFFFF9F00u);
  EXPECT_EQ(ProfileAvatar::firefoxColor("toolbar"), 0xFF7C7C7Du);
  EXPECT_EQ(ProfileAvatar::firefoxColor("magenta"), std::nullopt);
}

TEST(ProfileAvatar, ArgbReadsChromiumsSignedColours) {
  const struct {
    const char* json;
    std::optional<std::uint32_t> argb;
  } cases[] = {
      {"-2890755", 0xFFD3E3FDu},  // as written by Chromium 156
      {"4294967295", 0xFFFFFFFFu}, {"4294967296", 0u},       {"-1.9", 0xFFFFFFFFu},
      {"1e20", 0x63100000u},  // beyond 64 bits
      {"true", std::nullopt},      {"\"-1\"", std::nullopt}, {"null", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    EXPECT_EQ(ProfileAvatar::argb(JsonValue::parse(c.json)), c.argb);
  }
}

}  // namespace
}  // namespace linkferry
