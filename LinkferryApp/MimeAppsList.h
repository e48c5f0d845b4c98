#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// mimeapps.list files (freedesktop.org's "Association between MIME types and applications"):
// which desktop entry is the default for a MIME type or URL scheme.
namespace linkferry::MimeAppsList {

using Environment = std::map<std::string, std::string>;

inline constexpr std::string_view kDefaultGroup = "Default Applications";

// The value of `key` in the "[Default Applications]" group of the text (the first occurrence),
// as written ("firefox.desktop;" included); nothing when absent.
std::optional<std::string> defaultValue(std::string_view text, std::string_view key);

// The text with `key` of "[Default Applications]" set to `value`, or removed when `value` is
// absent. Every other line stays as it was; the group is added at the end when missing.
std::string settingDefault(std::string_view text, std::string_view key,
                           const std::optional<std::string>& value);

// The desktop identifiers of a value: "a.desktop;b.desktop;" gives "a.desktop", "b.desktop".
std::vector<std::string> entries(std::string_view value);

// The user's own list that tools write: $XDG_CONFIG_HOME/mimeapps.list (default ~/.config).
std::filesystem::path userList(const std::filesystem::path& home, const Environment& environment);

// The lists a desktop reads, most important first: for each of $XDG_CONFIG_HOME, the folders of
// $XDG_CONFIG_DIRS, $XDG_DATA_HOME/applications and the applications folders of $XDG_DATA_DIRS,
// the desktop's own "<desktop>-mimeapps.list" (when `desktop` is given, lower-cased) before
// "mimeapps.list".
std::vector<std::filesystem::path> searchOrder(const std::filesystem::path& home,
                                               const Environment& environment,
                                               const std::optional<std::string>& desktop);

// Where a desktop finds its default for `key`: the first list in search order that holds the key,
// with its value; nothing when none does. Unreadable lists are skipped.
struct Found {
  std::filesystem::path file;
  std::string value;
};
std::optional<Found> effectiveDefault(const std::filesystem::path& home,
                                      const Environment& environment,
                                      const std::optional<std::string>& desktop,
                                      std::string_view key);

}  // namespace linkferry::MimeAppsList
