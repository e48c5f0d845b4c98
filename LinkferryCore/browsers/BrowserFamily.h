#pragma once

#include <array>
#include <optional>
#include <string_view>

#include "foundation/Json.h"

namespace linkferry {

// How a browser is launched and how its profiles and data are read. Stored as its raw value
// ("chromium", "firefox", "safari", "other").
enum class BrowserFamily { chromium, firefox, safari, other };

// Every family, in declaration order.
inline constexpr std::array<BrowserFamily, 4> kAllBrowserFamilies = {
    BrowserFamily::chromium, BrowserFamily::firefox, BrowserFamily::safari, BrowserFamily::other};

// The raw value: "chromium", "firefox", "safari" or "other".
std::string_view toString(BrowserFamily family) noexcept;
// The family with this raw value (exact, case-sensitive); nothing for any other text.
std::optional<BrowserFamily> browserFamilyFromString(std::string_view raw) noexcept;
// Chromium and Firefox can open private windows; Safari (from the command line) and unknown
// browsers cannot.
bool supportsPrivateMode(BrowserFamily family) noexcept;

// The raw value as a JSON string.
JsonValue browserFamilyToJson(BrowserFamily family);
// Reads a raw value. Throws JsonError when it is not a string or names no family.
BrowserFamily browserFamilyFromJson(const JsonReader& json);

}  // namespace linkferry
