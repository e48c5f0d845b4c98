#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "browsers/BrowserFamily.h"
#include "foundation/Json.h"

namespace linkferry {

// One browser that links can be opened in, identified by `id`. Discovery builds these from the
// installed applications (macOS) or desktop entries (Linux); the user adds more in browsers.json.
struct BrowserDefinition {
  // Stable identifier: the macOS bundle identifier, the Linux desktop file identifier, or
  // whatever a custom definition says.
  std::string id;
  // Display name.
  std::string name;
  BrowserFamily family = BrowserFamily::other;
  // The application bundle (macOS) or the program to start (Linux).
  std::string appPath;
  // Absolute path of Chromium's user data folder or Firefox's profiles root.
  std::optional<std::string> dataDir = std::nullopt;
  // `dataDir` is not the browser's default and must be passed on the command line; such a
  // definition is a separate instance of its application.
  bool explicitUserDataDir = false;
  // Extra arguments placed before the link when launching (Linux).
  std::vector<std::string> launchArguments = {};

  // `id`, `name`, `family`, `appPath` and `explicitUserDataDir` always; `dataDir` when present;
  // `launchArguments` only when not empty.
  JsonValue toJson() const;
  // `id`, `name`, `family` and `appPath` are required; `dataDir` may be missing or null; a missing
  // or null `explicitUserDataDir` is false and `launchArguments` empty. Throws JsonError naming
  // the key path of the first problem.
  static BrowserDefinition fromJson(const JsonReader& json);

  bool operator==(const BrowserDefinition&) const = default;
};

}  // namespace linkferry

template <>
struct std::hash<linkferry::BrowserDefinition> {
  std::size_t operator()(const linkferry::BrowserDefinition& definition) const noexcept {
    std::hash<std::string> text;
    std::size_t hash = text(definition.id);
    auto mix = [&hash](std::size_t value) {
      hash ^= value + 0x9e3779b97f4a7c15ull + (hash << 6) + (hash >> 2);
    };
    mix(text(definition.name));
    mix(static_cast<std::size_t>(definition.family));
    mix(text(definition.appPath));
    mix(definition.dataDir ? text(*definition.dataDir) : 0x51);
    mix(definition.explicitUserDataDir ? 1 : 2);
    for (const auto& argument : definition.launchArguments) mix(text(argument));
    return hash;
  }
};
