#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace linkferry {

// Where LinkFerry keeps its files. Immutable; safe to pass between threads.
struct LinkferryPaths {
  std::filesystem::path root;  // the data folder

  explicit LinkferryPaths(std::filesystem::path root) : root(std::move(root)) {}

  std::filesystem::path rules() const { return root / "rules.json"; }
  std::filesystem::path customBrowsers() const { return root / "browsers.json"; }
  std::filesystem::path settings() const { return root / "settings.json"; }
  std::filesystem::path log() const { return root / "log.json"; }
  std::filesystem::path linkTypes() const { return root / "link-types.json"; }
  std::filesystem::path mailRoutes() const { return root / "mail-routes.json"; }
  std::filesystem::path popularity() const { return root / "tranco-domains.txt"; }

  // The data folder of the current user on Linux: LINKFERRY_HOME when set and not empty (a
  // leading "~" expanded to the home folder), else `linuxConfigRoot` of the process environment.
  static LinkferryPaths defaultPaths();
  // The same, from a given environment and home folder.
  static LinkferryPaths defaultPaths(const std::map<std::string, std::string>& environment,
                                     const std::filesystem::path& home);

  // "$XDG_CONFIG_HOME/linkferry" when that variable begins with "/", else "~/.config/linkferry".
  static std::filesystem::path linuxConfigRoot(
      const std::map<std::string, std::string>& environment, const std::filesystem::path& home);

  // The real home's "Library/Application Support", where browsers keep their data on macOS
  // layouts.
  static std::filesystem::path browserDataRoot();

  bool operator==(const LinkferryPaths&) const = default;
};

}  // namespace linkferry
