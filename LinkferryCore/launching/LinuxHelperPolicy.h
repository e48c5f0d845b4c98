#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "browsers/DesktopEntry.h"
#include "browsers/DesktopExec.h"
#include "launching/HelperPolicy.h"
#include "launching/LaunchPlan.h"

// The Linux counterpart of HelperPolicy: what the Linux helper agrees to run. It accepts only the
// shapes LaunchCommand::linuxPlan and linuxPlanWithoutURL make for the desktop entries installed
// on this machine, as the helper itself finds them (its own XDG folders and program search path;
// custom definitions from browsers.json are never trusted, a sender could have written them):
//
//   "/usr/bin/env" "gtk-launch" <desktop id of an installed entry> [<link, app schemes allowed>]
//   <program of an installed web-browser entry> <that entry's Exec arguments>
//       <browser flags of HelperPolicy::checkFlag>… [<http(s) link>]
//
// where "--user-data-dir=" must lie strictly below the home folder and never holds "..", and a
// last argument that begins with "-" is a flag, never the link. Rejections reuse the macOS cases:
// a program that is neither "/usr/bin/env" nor the program of an installed entry → executable;
// the program of an installed entry that is no web browser, or an unknown desktop id → app;
// a flag or a stray argument → arguments; a link → link.
namespace linkferry::LinuxHelperPolicy {

// A web-browser desktop entry as the builders use it: its program resolved on the search path,
// and the rest of its Exec command.
struct InstalledBrowser {
  std::string desktopID;
  std::string program;
  std::vector<std::string> arguments;
  bool operator==(const InstalledBrowser&) const = default;
};

// The installed applications the policy trusts.
struct Installed {
  // Every desktop identifier gtk-launch may start (this product's own entries excluded, so the
  // helper never hands a link back to the router).
  std::set<std::string> desktopIDs;
  // The web-link handlers, as BrowserCatalog::discover turns them into browsers.
  std::vector<InstalledBrowser> browsers;
  // The programs of every other installed entry (only to tell "app" from "executable").
  std::set<std::string> otherPrograms;
};

// What `entries` (DesktopEntries::load of the helper's own folders) allow, programs resolved with
// DesktopExec::resolve on `searchPath`. Never throws.
Installed installed(const std::vector<DesktopEntry>& entries,
                    const std::optional<std::string>& searchPath,
                    const DesktopExec::ExecutablePredicate& isExecutable);

// Accepts `plan` and, recursively, its fallbacks; throws HelperPolicy::Rejection otherwise.
// `home` is the user's real home folder (Edition::realHome).
void validate(const LaunchPlan& plan, const Installed& installed,
              const std::filesystem::path& home);

}  // namespace linkferry::LinuxHelperPolicy
