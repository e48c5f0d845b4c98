#pragma once

#include <memory>

#include "browsers/BrowserCatalog.h"
#include "launching/LaunchPlatform.h"
#include "rules/RuleSet.h"
#include "settings/AppSettings.h"
#include "signals/DeferredIndex.h"
#include "signals/SignalIndex.h"

namespace linkferry {

// Everything the router decides with. The large parts are immutable values shared by pointer, so
// an operation's copy of the state costs a few reference counts and a setter never disturbs an
// operation already running. A null part counts as empty (or, for the settings, the defaults).
struct RouterState {
  std::shared_ptr<const BrowserCatalog> catalog;
  std::shared_ptr<const RuleSet> rules;
  std::shared_ptr<const SignalIndex> index;
  std::shared_ptr<const AppSettings> settings;
  LaunchPlatform launchPlatform = LaunchPlatform::linux;
  // When set, the decision stages read the index from here, made when one first needs it, and
  // `index` stays empty: for a process that routes one link. `setIndex` replaces it.
  std::shared_ptr<const DeferredIndex> deferredIndex{};

  bool operator==(const RouterState&) const = default;
};

}  // namespace linkferry
