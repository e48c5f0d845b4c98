#pragma once

#include <optional>
#include <string>

#include "ActiveWindow.h"
#include "SourceApp.h"
#include "browsers/BrowserCatalog.h"

namespace linkferry::FrontmostBrowser {

// The catalog browser that owns `window`, or nothing when it is not a browser of the catalog.
// First by program: the window's process runs the program of a catalog browser (compared after
// resolving symbolic links). Then by WM_CLASS: its instance or class name is a browser's desktop
// identifier, ignoring case ("Google-chrome" for "google-chrome"), which finds browsers started
// through a wrapper script or inside a sandbox. A browser instance started with its own user data
// folder (--user-data-dir) is told apart from the default one by that folder. Never fails.
std::optional<std::string> of(const ActiveWindow& window, const BrowserCatalog& catalog,
                              const ProcessTable& processes);

// The profile of catalog browser `browserID` that `window` shows, where the window or its
// process tells it; nothing otherwise (and for a browser without profiles). Chromium: a part of
// the window's title between " - " separators, after the first, that is the display name of
// exactly one profile (Chromium adds the profile's name when there are several), else
// "--profile-directory" on the process's command line. Firefox: "-profile PATH" or "-P NAME" on
// the command line, else the default profile of the installation (profiles.ini). Never fails.
std::optional<std::string> profileOf(const ActiveWindow& window, const std::string& browserID,
                                     const BrowserCatalog& catalog, const ProcessTable& processes);

}  // namespace linkferry::FrontmostBrowser
