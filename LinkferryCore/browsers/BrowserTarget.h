#pragma once

#include <functional>
#include <optional>
#include <string>

#include "foundation/Json.h"

namespace linkferry {

// Where a link opens: a browser, optionally one of its profiles or Firefox containers, and
// whether in a private window. Stored in rules, settings and the decision log.
struct BrowserTarget {
  std::string browser;
  std::optional<std::string> profile = std::nullopt;
  std::optional<std::string> container = std::nullopt;
  bool privateMode = false;

  // "browser / profile / container:id / private", with only the parts that exist.
  std::string description() const;

  // `browser` always; `profile` and `container` only when present; `privateMode` only when true.
  JsonValue toJson() const;
  // `browser` is required; the others may be missing or null. Throws JsonError.
  static BrowserTarget fromJson(const JsonReader& json);

  bool operator==(const BrowserTarget&) const = default;
};

}  // namespace linkferry

template <>
struct std::hash<linkferry::BrowserTarget> {
  std::size_t operator()(const linkferry::BrowserTarget& target) const noexcept {
    std::size_t hash = std::hash<std::string>()(target.browser);
    auto mix = [&hash](std::size_t value) {
      hash ^= value + 0x9e3779b97f4a7c15ull + (hash << 6) + (hash >> 2);
    };
    mix(target.profile ? std::hash<std::string>()(*target.profile) : 0x51);
    mix(target.container ? std::hash<std::string>()(*target.container) : 0x52);
    mix(target.privateMode ? 1 : 2);
    return hash;
  }
};
