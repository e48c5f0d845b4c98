#include "rules/URLRewriter.h"

#include <memory>

#include "rules/RuleEvaluator.h"

namespace linkferry::URLRewriter {

Result apply(const RuleSet& rules, const LinkRequest& request, const RoutingContext& context) {
  LinkRequest current = request;
  std::vector<std::string> steps;
  // The subject caches what it read of the link, so it is renewed whenever the link changes.
  auto subject = std::make_unique<RuleEvaluator::Subject>(current, context);
  for (const Rule& rule : rules.rules) {
    const auto* rewrite = rule.action.kind.asRewrite();
    if (!rewrite || !rule.isActive(context.now)) continue;
    if (!RuleEvaluator::matches(rule.match, *subject)) continue;
    std::optional<URL> rewritten = rewrite->rewrite.apply(current.url);
    if (!rewritten) continue;
    steps.push_back("rule “" + rule.name + "”: " + current.url.absoluteString() + " → " +
                    rewritten->absoluteString());
    current.url = std::move(*rewritten);
    subject = std::make_unique<RuleEvaluator::Subject>(current, context);
  }
  return Result{std::move(current.url), std::move(steps)};
}

}  // namespace linkferry::URLRewriter
