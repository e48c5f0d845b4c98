#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace linkferry {

// A 128-bit identifier; its text is the canonical upper-case form
// "E621E1F8-C36C-495A-93FC-0C247A3E6E5F".
struct Uuid {
  std::array<std::uint8_t, 16> bytes{};

  // A random version 4 identifier from the system's random source.
  static Uuid random();
  // Accepts the canonical form in either letter case; nothing otherwise.
  static std::optional<Uuid> parse(std::string_view text);
  std::string string() const;

  auto operator<=>(const Uuid&) const = default;
};

}  // namespace linkferry

template <>
struct std::hash<linkferry::Uuid> {
  std::size_t operator()(const linkferry::Uuid& uuid) const noexcept {
    std::size_t hash = 1469598103934665603ull;
    for (auto byte : uuid.bytes) hash = (hash ^ byte) * 1099511628211ull;
    return hash;
  }
};
