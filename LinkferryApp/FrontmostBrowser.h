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

}  // namespace linkferry::FrontmostBrowser
