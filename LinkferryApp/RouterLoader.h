#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "launching/LaunchRunner.h"
#include "preparation/ShortLinkExpansion.h"
#include "router/Router.h"
#include "settings/DecisionLog.h"
#include "settings/LinkferryPaths.h"

namespace linkferry {

// Building the application's Router from the user's data folder on Linux: the catalog from the
// desktop entries and browsers.json, the rules, the settings, the signal index read from this
// machine's browsers, and the decision log.
namespace RouterLoader {

struct Options {
  // The process environment (XDG folders, PATH, LINKFERRY_HOME) and the home folder.
  std::map<std::string, std::string> environment;
  std::filesystem::path home;
  // Runs the plans; the detached Linux runner when null.
  std::shared_ptr<LaunchRunner> runner;
  // Follows short links; the network expander when null and `network` is on, else none.
  std::shared_ptr<const ShortLinkExpanding> expander;
  bool network = true;
  // Read the browsers' history and cookies into the signal index.
  bool readSignals = true;
  // For a process that routes a click or two and ends (`linkferry open` without the service):
  // the signal index is read when a decision stage first needs it (a link a rule decides never
  // reads the browsers' databases), and the decision log's files only when an operation needs
  // what they hold (a click's entry is appended to its journal).
  bool deferLoading = false;
};

struct Loaded {
  LinkferryPaths paths;
  std::shared_ptr<Router> router;
  std::shared_ptr<DecisionLog> log;
  // One line per file that could not be loaded, naming the file and the problem. Routing goes on
  // without what it held: no custom browsers, no rules, default settings.
  std::vector<std::string> problems;
};

// Never fails on the user's files: what cannot be loaded is listed in `problems` and left out.
// Rules chosen in the picker are added to the data folder's rules.json as it is on disk then,
// under its lock; when that file does not load, the save is refused so the user's broken file is
// never written over.
Loaded load(const Options& options);

}  // namespace RouterLoader

}  // namespace linkferry
