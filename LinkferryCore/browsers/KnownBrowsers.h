#pragma once

#include <optional>
#include <string>
#include <vector>

#include "browsers/BrowserFamily.h"

// The well-known macOS browsers: their family and where they keep their data.
namespace linkferry::KnownBrowsers {

struct Entry {
  std::string bundleID;
  std::string name;
  BrowserFamily family = BrowserFamily::other;
  // The data folder relative to the user's Application Support folder; Safari has none.
  std::optional<std::string> dataDir;

  bool operator==(const Entry&) const = default;
};

// Chromium-family browsers first, then the Firefox family, then Safari.
const std::vector<Entry>& all();

// The entry for `bundleID` (compared exactly), or nothing.
const Entry* entry(const std::string& bundleID);

}  // namespace linkferry::KnownBrowsers
