#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Process.h"

// Registering LinkFerry as the desktop's default web browser and undoing it. Everything is read
// from and written to the folders of `Setup` (HOME and the XDG variables of its environment), and
// the desktop's own tools (xdg-settings, update-desktop-database, desktop-file-validate, systemctl)
// run with that environment, so tests work in temporary folders. The systemd user units are in
// UserUnits.h, the checks of `linkferry doctor` in DesktopDoctor.h.
namespace linkferry::DesktopIntegration {

using Environment = std::map<std::string, std::string>;

inline constexpr const char* kHttp = "x-scheme-handler/http";
inline constexpr const char* kHttps = "x-scheme-handler/https";

// The types the desktop entry claims and install makes it the default for: the web-link schemes
// and, as a browser must, local pages, which the desktop then hands over as paths or `file:`
// links.
const std::vector<std::string>& claimedTypes();

// The desktop file this product installs, and its identifier for xdg-settings and mimeapps.list.
inline constexpr const char* kDesktopFileName = "linkferry.desktop";

// The keys whose defaults install sets or xdg-settings may change, remembered and restored.
const std::vector<std::string>& rememberedKeys();

struct Setup {
  std::filesystem::path home;
  Environment environment;
  std::filesystem::path program;     // the absolute path of the installed `linkferry`
  std::filesystem::path dataFolder;  // where the previous defaults are remembered

  // This process: $HOME, its environment, its own program (/proc/self/exe), its data folder.
  static Setup forThisProcess();

  // $XDG_CONFIG_HOME when it begins with "/", else ~/.config.
  std::filesystem::path configFolder() const;
  // $XDG_DATA_HOME/applications (default ~/.local/share/applications).
  std::filesystem::path applicationsFolder() const;
  std::filesystem::path desktopFile() const { return applicationsFolder() / kDesktopFileName; }
  // The previous defaults, in the data folder: "previous-defaults.json".
  std::filesystem::path rememberedDefaults() const { return dataFolder / "previous-defaults.json"; }
};

// What the desktop runs for a click: `linkferry-open` beside `program` when it is there (it starts
// in a fraction of the time, see LinkferryOpen/), else `program open`.
std::vector<std::string> clickCommand(const std::filesystem::path& program);

// The icon installed with a program in <prefix>/bin: "linkferry" when
// <prefix>/share/icons/hicolor/scalable/apps/linkferry.svg is there, else the theme's generic
// "web-browser" (a build folder has no icon theme of its own).
std::string iconName(const std::filesystem::path& program);
inline constexpr const char* kIconName = "linkferry";

// The build folder `program` was built in: the nearest of its three closest folders that holds
// a CMakeCache.txt. Nothing for an installed program.
std::optional<std::filesystem::path> buildFolder(const std::filesystem::path& program);

// The desktop entry for a click command and an icon: Exec is the command (each word quoted when
// it holds spaces or quoting characters, as desktop entries require) followed by
// "--start-service %u". The package's own entry is made by this function as well, so what
// `linkferry install` writes and what the package installs agree.
std::string desktopEntryText(const std::vector<std::string>& command, std::string_view icon);
// The desktop entry for `program`: its click command and icon.
std::string desktopEntryText(const std::filesystem::path& program);

// What install and uninstall did, line by line, and what did not work but did not stop them.
struct Report {
  std::vector<std::string> done;
  std::vector<std::string> warnings;
};

// A desktop tool found on the setup's PATH and run with the setup's environment, its output
// captured; nothing when it is not installed or cannot be started.
std::optional<Process::Result> runTool(const Setup& setup, const std::string& name,
                                       const std::vector<std::string>& arguments);
// A tool's standard error then standard output, as one trimmed line.
std::string toolOutput(const Process::Result& result);
// One Exec argument of a desktop entry or a systemd unit: quoted when it holds a reserved
// character, with ", `, $ and \ escaped inside the quotes; "%" doubled so it is no field code.
std::string execArgument(std::string_view argument);
// Whether a mimeapps.list value names linkferry.desktop first.
bool namesLinkFerry(const std::optional<std::string>& value);

// Writes the desktop entry (the report says which program it runs, and when that program is in a
// build folder, that it is), refreshes the desktop database, remembers the current defaults (the
// xdg-settings default browser and the remembered keys of the user's mimeapps.list) in the data
// folder, then makes LinkFerry the default through `xdg-settings set default-web-browser` and the
// x-scheme-handler/http and https defaults of mimeapps.list. Installing again keeps the defaults
// remembered the first time (it never remembers LinkFerry as the previous default). A missing or
// failing desktop tool is a warning; a file that cannot be written throws std::system_error
// naming it, and the remembered defaults are written before anything is changed. Last, the
// systemd user units linkferry.socket and linkferry.service are written and the socket enabled
// (socket activation starts `linkferry serve` on the first click); without a systemd user session
// that is no fault: `linkferry open --start-service` starts the service itself.
Report install(const Setup& setup);

// Restores the remembered defaults where they still point at LinkFerry: xdg-settings gets the
// previous default browser back, and each remembered key of mimeapps.list that names LinkFerry
// gets its previous value (or is removed when it had none). A key the user has changed since keeps
// the user's value, even where xdg-settings rewrote it. Then the desktop entry and the remembered
// file are removed and the desktop database refreshed. Without remembered defaults (or with a
// malformed file, a warning), keys that name LinkFerry are removed.
// The systemd units are disabled and removed. Throws std::system_error naming a file that cannot
// be written.
Report uninstall(const Setup& setup);

}  // namespace linkferry::DesktopIntegration
