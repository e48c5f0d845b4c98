#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/Json.h"

namespace linkferry {

// What a target's button shows: a letter on a coloured disc, or a picture.
struct ProfileAvatar {
  // One upper-case character, or "?".
  std::string initial;
  // Background colour, ARGB.
  std::uint32_t fill = 0;
  // Colour of the initial, ARGB.
  std::uint32_t text = 0;
  // A picture file to show instead of the initial.
  std::optional<std::string> imagePath;

  // Opaque white.
  static constexpr std::uint32_t white = 0xFFFFFFFF;

  // The first letter or number of `name` (an extended grapheme cluster), upper-cased; "?" when
  // the name has none.
  static std::string initialOf(std::string_view name);
  // A colour of a fixed palette of ten, chosen by the 32-bit FNV-1a hash of the UTF-8 bytes, so
  // the same name always gets the same colour ("abc" gives 0xFF188038). The empty name gets the
  // second palette entry.
  static std::uint32_t stableColor(std::string_view name);
  // Firefox's container colour names ("blue", "turquoise", "green", "yellow", "orange", "red",
  // "pink", "purple", "toolbar"), compared after lower-casing; nothing for other names.
  static std::optional<std::uint32_t> firefoxColor(std::string_view name);
  // A colour stored by Chromium as a signed 32-bit ARGB integer: any JSON number that is not a
  // boolean, its integer part truncated to the low 32 bits. Nothing for other values.
  static std::optional<std::uint32_t> argb(const JsonValue& value);

  bool operator==(const ProfileAvatar&) const = default;
};

}  // namespace linkferry

template <>
struct std::hash<linkferry::ProfileAvatar> {
  std::size_t operator()(const linkferry::ProfileAvatar& avatar) const noexcept {
    std::hash<std::string> text;
    std::size_t hash = text(avatar.initial);
    auto mix = [&hash](std::size_t value) {
      hash ^= value + 0x9e3779b97f4a7c15ull + (hash << 6) + (hash >> 2);
    };
    mix(avatar.fill);
    mix(avatar.text);
    mix(avatar.imagePath ? text(*avatar.imagePath) : 0x51);
    return hash;
  }
};
