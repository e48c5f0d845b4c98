#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

// Registering LinkFerry as the desktop's default web browser, undoing it, and checking it.
// Everything is read from and written to the folders of `Setup` (HOME and the XDG variables of its
// environment), and the desktop's own tools (xdg-settings, update-desktop-database,
// desktop-file-validate) run with that environment, so tests work in temporary folders.
namespace linkferry::DesktopIntegration {

using Environment = std::map<std::string, std::string>;

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

  // $XDG_DATA_HOME/applications (default ~/.local/share/applications).
  std::filesystem::path applicationsFolder() const;
  std::filesystem::path desktopFile() const { return applicationsFolder() / kDesktopFileName; }
  // $XDG_CONFIG_HOME/systemd/user (default ~/.config/systemd/user) and the service's units there.
  std::filesystem::path systemdUserFolder() const;
  std::filesystem::path socketUnit() const { return systemdUserFolder() / "linkferry.socket"; }
  std::filesystem::path serviceUnit() const { return systemdUserFolder() / "linkferry.service"; }
  // The previous defaults, in the data folder: "previous-defaults.json".
  std::filesystem::path rememberedDefaults() const { return dataFolder / "previous-defaults.json"; }
};

// What the desktop runs for a click: `linkferry-open` beside `program` when it is there (it starts
// in a fraction of the time, see LinkferryOpen/), else `program open`.
std::vector<std::string> clickCommand(const std::filesystem::path& program);
// The desktop entry for `program`: Exec is its click command (each word quoted when it holds
// spaces or quoting characters, as desktop entries require) followed by "--start-service %u".
std::string desktopEntryText(const std::filesystem::path& program);

// What install and uninstall did, line by line, and what did not work but did not stop them.
struct Report {
  std::vector<std::string> done;
  std::vector<std::string> warnings;
};

// Writes the desktop entry, refreshes the desktop database, remembers the current defaults (the
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

// One finding of `doctor`.
struct Check {
  std::string name;                 // "desktop entry", "default for GNOME", ...
  bool ok = true;
  std::string message;              // what was found
  std::optional<std::string> fix;   // how to put it right, for a problem
};

// Every piece: the desktop entry exists, is valid (desktop-file-validate when installed) and runs
// this program; the program path it names is current; the defaults for http and https that GNOME,
// KDE and Xfce read (their own mimeapps.list first, then the shared ones, plus KDE's
// BrowserApplication and Xfce's helpers.rc) name LinkFerry; xdg-settings agrees; the data folder
// is readable; rules.json, browsers.json and settings.json load; a running `linkferry serve`
// loaded them too (it keeps its last good state when they broke). Never throws.
std::vector<Check> doctor(const Setup& setup);

}  // namespace linkferry::DesktopIntegration
