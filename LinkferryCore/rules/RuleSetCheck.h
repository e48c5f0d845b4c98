#pragma once

#include <string>
#include <vector>

#include "browsers/BrowserCatalog.h"
#include "foundation/Json.h"
#include "rules/RuleSet.h"

// What a rule file says that loading accepts but that will not do what its writer meant: keys
// that nothing reads, and targets this machine does not have. These are warnings, never load
// errors: a rule file stays loadable on a machine without one of its browsers, and a file written
// by a later version with more keys still loads here.
namespace linkferry::RuleSetCheck {

using Warning = RuleSetWarning;

// Every key of a decoded rule-file document that loading does not read, in document order (keys of
// one object alphabetically): "unknown key "private" (ignored)", or for a rewrite key that the
// rewrite's form sets aside "key "regex" is not read beside "host" (ignored)". Only the shapes that
// loading accepted are walked; anything else is left alone. Never fails.
std::vector<Warning> unreadKeys(const JsonValue& document);

// Each rule checked against the browsers of `catalog`: an empty name, an `id` used by an earlier
// rule, and for every target of `open` and `prompt` an empty browser identifier, a browser not in
// the catalog, a profile its browser does not have, a container on a browser that is no Firefox or
// one no profile of the browser holds. Profiles of a browser whose data may not be read are not
// judged. `hasStoredId[i]` tells whether rule i had an `id` in the file (ids made up on load are
// never duplicates); a shorter list counts as stored.
std::vector<Warning> targetWarnings(const RuleSet& set, const BrowserCatalog& catalog,
                                    const std::vector<bool>& hasStoredId = {});

// The warnings about one target, without its rule: what `targetWarnings` says about it.
std::vector<std::string> targetProblems(const BrowserTarget& target,
                                        const BrowserCatalog& catalog);

}  // namespace linkferry::RuleSetCheck
