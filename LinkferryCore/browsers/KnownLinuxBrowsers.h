#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "browsers/BrowserFamily.h"

// The well-known Linux browsers by desktop identifier (distribution packages, flatpak and snap):
// their family and where they keep their data.
namespace linkferry::KnownLinuxBrowsers {

struct Entry {
  std::vector<std::string> desktopIDs;
  std::string name;
  BrowserFamily family = BrowserFamily::other;
  // Data folders relative to the home folder, most preferred first.
  std::vector<std::string> dataDirs;

  bool operator==(const Entry&) const = default;
};

const std::vector<Entry>& all();

// The first entry listing `desktopID` (compared exactly), or null.
const Entry* entry(const std::string& desktopID);

// The names people use for the browser of `desktopID` besides its identifier, lower-case: the
// entry's other desktop identifiers ("firefox" for "firefox-esr"), its name ("google chrome") and
// its short names ("chrome"). Empty for a browser not in the table.
std::vector<std::string> commonNames(const std::string& desktopID);

// The first of the entry's data folders under `home` that holds the family's index file
// ("profiles.ini" for Firefox, "Local State" otherwise); when none does, the first folder.
std::string dataDir(const Entry& entry, const std::filesystem::path& home);

}  // namespace linkferry::KnownLinuxBrowsers
