#include "browsers/ProfileAvatar.h"

#include <array>
#include <cmath>
#include <utility>

#include <unicode/uchar.h>

#include "foundation/Text.h"

namespace linkferry {
namespace {

constexpr std::array<std::uint32_t, 10> kPalette = {
    0xFF1A73E8, 0xFF188038, 0xFFD93025, 0xFFE37400, 0xFF9334E6,
    0xFF007B83, 0xFFC5221F, 0xFF5F6368, 0xFFB80672, 0xFF3949AB,
};

constexpr std::array<std::pair<std::string_view, std::uint32_t>, 9> kFirefoxColors = {{
    {"blue", 0xFF37ADFF},
    {"turquoise", 0xFF00C79A},
    {"green", 0xFF51CD00},
    {"yellow", 0xFFFFCB00},
    {"orange", 0xFFFF9F00},
    {"red", 0xFFFF613D},
    {"pink", 0xFFFF4BDA},
    {"purple", 0xFFAF51F5},
    {"toolbar", 0xFF7C7C7D},
}};

bool isLetterOrNumber(char32_t codePoint) {
  const auto mask = U_GET_GC_MASK(static_cast<UChar32>(codePoint));
  return (mask & (U_GC_L_MASK | U_GC_N_MASK)) != 0;
}

}  // namespace

std::string ProfileAvatar::initialOf(std::string_view name) {
  for (std::string_view character : Text::characters(name)) {
    const std::u32string codePoints = Text::codePoints(character);
    if (!codePoints.empty() && isLetterOrNumber(codePoints.front())) {
      return Text::uppercased(character);
    }
  }
  return "?";
}

std::uint32_t ProfileAvatar::stableColor(std::string_view name) {
  if (name.empty()) return kPalette[1];
  std::uint32_t hash = 0x811C9DC5u;
  for (char byte : name) {
    hash ^= static_cast<unsigned char>(byte);
    hash *= 16777619u;
  }
  return kPalette[hash % kPalette.size()];
}

std::optional<std::uint32_t> ProfileAvatar::firefoxColor(std::string_view name) {
  const std::string lowered = Text::lowercased(name);
  for (const auto& [colorName, argb] : kFirefoxColors) {
    if (colorName == lowered) return argb;
  }
  return std::nullopt;
}

std::optional<std::uint32_t> ProfileAvatar::argb(const JsonValue& value) {
  switch (value.type()) {
    case JsonValue::value_t::number_integer:
      return static_cast<std::uint32_t>(value.get<std::int64_t>());
    case JsonValue::value_t::number_unsigned:
      return static_cast<std::uint32_t>(value.get<std::uint64_t>());
    case JsonValue::value_t::number_float: {
      // fmod is exact, so even values beyond 64 bits keep their low 32 bits.
      const double whole = std::trunc(value.get<double>());
      if (!std::isfinite(whole)) return std::nullopt;
      double low = std::fmod(whole, 4294967296.0);
      if (low < 0) low += 4294967296.0;
      return static_cast<std::uint32_t>(low);
    }
    default:
      return std::nullopt;
  }
}

}  // namespace linkferry
