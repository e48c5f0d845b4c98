#pragma once

#include <optional>
#include <string>
#include <vector>

#include "foundation/URL.h"
#include "preparation/ShortLinkExpansion.h"
#include "routing/LinkRequest.h"
#include "routing/RoutingContext.h"
#include "rules/RuleIndex.h"
#include "rules/RuleSet.h"
#include "settings/AppSettings.h"

namespace linkferry {

// Turns a received link into the link that is really opened: redirect wrappers unwrapped, a short
// link expanded, the rules' rewrites applied and http upgraded to https, each step switched by the
// user's settings and noted in a trace line. Tracking parameters are not removed here: the router
// and the clipboard cleaner do that on the result. Stateless.
namespace LinkPreparation {

struct Result {
  URL url;                          // the prepared link
  std::optional<URL> expandedFrom;  // the short link `url` was expanded from
  // One line per step that changed or examined the link, in step order, each starting with its
  // tag: "[unwrap]", "[expand]", "[rewrite]", "[https]".
  std::vector<std::string> trace;
  bool operator==(const Result&) const = default;
};

// Whether `url` is a `file:` link (the scheme compared in lower case): a local page keeps its
// query and fragment as written, so nothing but the user's own rewrites changes it.
bool isLocalFile(const URL& url);

// Runs the chain on the request's link, each step switched by its setting (`unwrapRedirects`,
// `expandShortLinks`, `forceHTTPS` with `forceHTTPSExceptions`; the rewrites always run). Without
// an expander no request is made: a short link stays as it is, with the trace line "[expand] short
// link not expanded here (no network)". An expander's failure is only noted in the trace; the short
// link is then prepared as it is. Blocks while the expander works; never fails. Callable from any
// thread. `ruleIndex`, when given, is a RuleIndex of `rules`, so the rewrites look only at the
// rules it cannot rule out. A `file:` link is only rewritten: there is no redirect, short link or
// plain-http page in a local file's link.
Result prepare(const LinkRequest& request, const RoutingContext& context,
               const AppSettings& settings, const RuleSet& rules,
               const ShortLinkExpanding* expander, const RuleIndex* ruleIndex = nullptr);

}  // namespace LinkPreparation
}  // namespace linkferry
