#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "browsers/FirefoxContainer.h"

namespace linkferry {

// One profile of a browser, as discovered in its data folder. Never stored, only discovered.
struct BrowserProfile {
  // The identifier inside its browser, the value a `BrowserTarget::profile` holds: Chromium's
  // profile folder name ("Default", "Profile 1"), Firefox's profile name.
  std::string id;
  // Display name.
  std::string name;
  // The profile's folder.
  std::filesystem::path path;
  // Firefox containers of this profile; empty for other families.
  std::vector<FirefoxContainer> containers = {};
  // The signed-in account's e-mail, if the browser records one.
  std::optional<std::string> email = {};
  // E-mail addresses of the Google accounts signed in to this profile.
  std::vector<std::string> googleAccounts = {};
  // The profile's picture file.
  std::optional<std::string> avatarPath = {};
  // The profile's colour, ARGB with alpha in the top byte.
  std::optional<std::uint32_t> avatarColor = {};
  // The colour to draw text on `avatarColor`, ARGB.
  std::optional<std::uint32_t> avatarTextColor = {};

  // The accounts to show under the name: `googleAccounts` when not empty, else `email`, joined
  // with ", "; nothing when there are none.
  std::optional<std::string> accountsText() const;

  bool operator==(const BrowserProfile&) const = default;
};

}  // namespace linkferry

template <>
struct std::hash<linkferry::BrowserProfile> {
  std::size_t operator()(const linkferry::BrowserProfile& profile) const noexcept {
    std::hash<std::string> text;
    std::size_t hash = text(profile.id);
    auto mix = [&hash](std::size_t value) {
      hash ^= value + 0x9e3779b97f4a7c15ull + (hash << 6) + (hash >> 2);
    };
    mix(text(profile.name));
    mix(std::filesystem::hash_value(profile.path));
    for (const auto& container : profile.containers) {
      mix(std::hash<linkferry::FirefoxContainer>()(container));
    }
    mix(profile.email ? text(*profile.email) : 0x51);
    for (const auto& account : profile.googleAccounts) mix(text(account));
    mix(profile.avatarPath ? text(*profile.avatarPath) : 0x52);
    mix(profile.avatarColor ? *profile.avatarColor : 0x1'0000'0000ull);
    mix(profile.avatarTextColor ? *profile.avatarTextColor : 0x1'0000'0001ull);
    return hash;
  }
};
