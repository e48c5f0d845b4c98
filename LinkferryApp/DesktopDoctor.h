#pragma once

#include <optional>
#include <string>
#include <vector>

#include "DesktopIntegration.h"

// The checks of `linkferry doctor`: every piece of the desktop's registration, the data folder and
// its files, and the running service, each with how to put it right.
namespace linkferry::DesktopDoctor {

// One finding.
struct Check {
  std::string name;  // "desktop entry", "default for GNOME", ...
  bool ok = true;
  std::string message;             // what was found
  std::optional<std::string> fix;  // how to put it right, for a problem
};

// Every piece: the desktop entry exists, is valid (desktop-file-validate when installed) and runs
// this program; the program path it names is current; the defaults for http and https that GNOME,
// KDE and Xfce read (their own mimeapps.list first, then the shared ones, plus KDE's
// BrowserApplication and Xfce's helpers.rc) name LinkFerry; xdg-settings agrees; the data folder
// is readable; rules.json, browsers.json and settings.json load; the decision log can be loaded
// and written (see `logChecks`); a running `linkferry serve` loaded the files too (it keeps its
// last good state when they broke). Never throws.
std::vector<Check> run(const DesktopIntegration::Setup& setup);

// The decision log of the data folder `root`: log.json and log.json.journal, where present, are
// regular files that can be read and are within DecisionLog::kFileLimit; log.json.lock, where
// present, is a regular file that can be written; `root` can be written in. One problem per fault,
// named "log" and naming the file; one good check when there is none. A missing `root` is no
// fault (the log is created with it). Never throws.
std::vector<Check> logChecks(const std::filesystem::path& root);

}  // namespace linkferry::DesktopDoctor
