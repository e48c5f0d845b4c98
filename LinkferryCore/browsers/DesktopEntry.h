#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace linkferry {

// One application described by a freedesktop.org desktop entry file. On Linux its identifier
// plays the part of a macOS bundle identifier: it is the browser's id and what app targets name.
struct DesktopEntry {
  // The desktop file identifier: the path below its applications folder without ".desktop",
  // "/" replaced by "-" ("kde-okular" for "kde/okular.desktop").
  std::string id;
  // The untranslated `Name`.
  std::string name;
  // The `Exec` command as arguments, field codes removed; never empty, the program first.
  std::vector<std::string> exec;
  // The `MimeType` list.
  std::vector<std::string> mimeTypes;
  // `NoDisplay` or `Hidden` is "true".
  bool hidden = false;
  // The file's path.
  std::string path;

  // The entry from the text of a desktop file: the keys of its "[Desktop Entry]" group (first
  // occurrence wins, localized keys such as "Name[de]" ignored). Nothing unless `Type` is
  // "Application" or missing, `Name` is present and `Exec` gives a program. Never throws; any
  // bytes are accepted as input.
  static std::optional<DesktopEntry> parse(std::string_view text, std::string id, std::string path);

  // The entry says it opens http or https links.
  bool handlesWebLinks() const;

  bool operator==(const DesktopEntry&) const = default;
};

}  // namespace linkferry

template <>
struct std::hash<linkferry::DesktopEntry> {
  std::size_t operator()(const linkferry::DesktopEntry& entry) const noexcept {
    std::hash<std::string> text;
    std::size_t hash = text(entry.id);
    auto mix = [&hash](std::size_t value) {
      hash ^= value + 0x9e3779b97f4a7c15ull + (hash << 6) + (hash >> 2);
    };
    mix(text(entry.name));
    for (const auto& argument : entry.exec) mix(text(argument));
    for (const auto& type : entry.mimeTypes) mix(text(type));
    mix(entry.hidden ? 1 : 2);
    mix(text(entry.path));
    return hash;
  }
};
