#pragma once

#include <string>
#include <vector>

#include "foundation/URL.h"
#include "routing/LinkRequest.h"
#include "routing/RoutingContext.h"
#include "rules/RuleIndex.h"
#include "rules/RuleSet.h"

// Applies the `rewrite` rules of a rule set to a link while it is prepared for routing.
namespace linkferry::URLRewriter {

struct Result {
  URL url;
  // One line per rewrite that changed the link: "rule “<name>”: <old link> → <new link>".
  std::vector<std::string> steps;
};

// Walks the rules in order; every active `rewrite` rule whose condition matches the link as the
// earlier rewrites left it is applied. A rewrite that does not apply changes nothing and adds no
// step. Never fails; pure.
Result apply(const RuleSet& rules, const LinkRequest& request, const RoutingContext& context);
// The same, looking only at the rules `index` (built from `rules.rules`) cannot rule out.
Result apply(const RuleSet& rules, const RuleIndex& index, const LinkRequest& request,
             const RoutingContext& context);

}  // namespace linkferry::URLRewriter
