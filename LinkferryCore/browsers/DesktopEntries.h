#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "browsers/DesktopEntry.h"

// Finding the desktop entries of the installed applications (XDG base directories, plus the
// export folders of flatpak and snap) and picking those that open web links.
namespace linkferry::DesktopEntries {

using Environment = std::map<std::string, std::string>;

// This product's own desktop identifier.
inline constexpr const char* kOwnID = "linkferry";

// Entries that open web links but are never offered as browsers: this product and the Junction
// link chooser.
const std::set<std::string>& excludedIDs();

// The "applications" folders to search, most important first: $XDG_DATA_HOME (default
// ~/.local/share), the folders of $XDG_DATA_DIRS (default /usr/local/share:/usr/share), then the
// flatpak exports of the user and of the system and snap's desktop folder. Repeats are dropped.
std::vector<std::filesystem::path> applicationDirectories(const std::filesystem::path& home,
                                                          const Environment& environment);

// Every parseable desktop entry below the folders (searched recursively, files in ascending
// path order within a folder). An identifier belongs to the first file that has it, even if
// that file cannot be read or parsed, so a user's file hides the system's. Folders and files that
// cannot be read are skipped. Never throws.
std::vector<DesktopEntry> load(const std::vector<std::filesystem::path>& folders);

// The entries, in order, that handle web links, are not hidden, are not `excluding` and not in
// the excluded set.
std::vector<DesktopEntry> httpHandlers(const std::vector<DesktopEntry>& entries,
                                       const std::optional<std::string>& excluding);

// The web-link handlers of this machine, this product's own entry left out.
std::vector<DesktopEntry> httpHandlers(const std::filesystem::path& home,
                                       const Environment& environment);

}  // namespace linkferry::DesktopEntries
