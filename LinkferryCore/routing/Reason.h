#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace linkferry {

// One line of explanation attached to a suggestion or a decision.
struct Reason {
  // Identifier of the stage that produced it: "rules", "app-links", "focus", "session",
  // "history", "context", or one of the router's own words.
  std::string stage;
  // User-facing text, already localised.
  std::string detail;

  bool operator==(const Reason&) const = default;
};

}  // namespace linkferry

template <>
struct std::hash<linkferry::Reason> {
  std::size_t operator()(const linkferry::Reason& reason) const noexcept {
    std::size_t hash = std::hash<std::string>()(reason.stage);
    return hash ^ (std::hash<std::string>()(reason.detail) + 0x9e3779b97f4a7c15ull + (hash << 6) +
                   (hash >> 2));
  }
};
