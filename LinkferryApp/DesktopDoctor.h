#pragma once

#include <optional>
#include <string>
#include <vector>

#include "DesktopIntegration.h"
#include "browsers/BrowserCatalog.h"
#include "rules/RuleSet.h"
#include "settings/AppSettings.h"

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
// is readable; rules.json, browsers.json and settings.json load; the rules' targets are on this
// machine and shown (see `ruleTargetChecks`); what Firefox containers need (see
// `containerChecks`); the decision log can be loaded and written (see `logChecks`); a running
// `linkferry serve` loaded the files too (it keeps its last good state when they broke). Never
// throws.
std::vector<Check> run(const DesktopIntegration::Setup& setup);

// The decision log of the data folder `root`: log.json and log.json.journal, where present, are
// regular files that can be read and are within DecisionLog::kFileLimit; log.json.lock, where
// present, is a regular file that can be written; `root` can be written in. One problem per fault,
// named "log" and naming the file; one good check when there is none. A missing `root` is no
// fault (the log is created with it). Never throws.
std::vector<Check> logChecks(const std::filesystem::path& root);

// The targets of the rules (open and prompt actions) that this machine cannot honour as written:
// a browser, profile or container that is not here (RuleSetCheck::targetProblems), or a target
// the settings hide (`hiddenTargets`, compared without container and private mode). One problem
// per target named "rule targets", naming the rule; one good check when there is none.
std::vector<Check> ruleTargetChecks(const RuleSet& rules, const AppSettings& settings,
                                    const BrowserCatalog& catalog);

// For each Firefox profile with containers, one check named "containers": whether an extension
// that opens ext+container: links is registered there (a handler of that scheme in the profile's
// handlers.json, where Firefox keeps the link handlers extensions declare). Never a problem:
// LinkFerry opens a container target without its container either way. Nothing when no profile
// has containers. Never throws.
std::vector<Check> containerChecks(const BrowserCatalog& catalog);

// Whether the Firefox profile in `profileFolder` has a handler for ext+container: links in its
// handlers.json. False when the file is missing or unreadable.
bool hasContainerOpener(const std::filesystem::path& profileFolder);

}  // namespace linkferry::DesktopDoctor
