#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace linkferry {

// A Firefox container (contextual identity) of one profile, as read from its containers.json.
struct FirefoxContainer {
  // The identity number in decimal: the value a `BrowserTarget::container` holds.
  std::string id;
  // Display name.
  std::string name;
  // Firefox's colour name ("blue", "orange", ...), when the container has one.
  std::optional<std::string> color = std::nullopt;

  bool operator==(const FirefoxContainer&) const = default;
};

}  // namespace linkferry

template <>
struct std::hash<linkferry::FirefoxContainer> {
  std::size_t operator()(const linkferry::FirefoxContainer& container) const noexcept {
    std::hash<std::string> text;
    std::size_t hash = text(container.id);
    hash ^= text(container.name) + 0x9e3779b97f4a7c15ull + (hash << 6) + (hash >> 2);
    hash ^= (container.color ? text(*container.color) : 0x51) + 0x9e3779b97f4a7c15ull +
            (hash << 6) + (hash >> 2);
    return hash;
  }
};
