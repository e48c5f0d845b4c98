#pragma once

#include <memory>
#include <vector>

#include "browsers/BrowserCatalog.h"
#include "browsers/BrowserTarget.h"
#include "rules/RuleAction.h"
#include "rules/RuleSet.h"

// The browser targets rules name, and the rules as routing uses them: with every browser,
// profile and container name written in the file replaced by the catalog's identifier. The file
// keeps what its writer wrote; the resolved copy is made again whenever the rules or the catalog
// change. Pure functions; callable from any thread.
namespace linkferry::RuleTargets {

// The targets of an action: the one of `open`, the list of `prompt`, none for the other cases.
std::vector<BrowserTarget> of(const RuleAction& action);

// The set with each target of `open` and `prompt` resolved against `catalog`
// (BrowserCatalog::resolve). Order, ids, conditions and compiled patterns are kept. `set` itself
// when no target changes, so a set that already uses identifiers costs no copy. Null stays null.
std::shared_ptr<const RuleSet> resolved(const std::shared_ptr<const RuleSet>& set,
                                        const BrowserCatalog& catalog);

}  // namespace linkferry::RuleTargets
