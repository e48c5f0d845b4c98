#include "rules/URLRewriter.h"

#include <memory>
#include <optional>
#include <utility>

#include "rules/RuleEvaluator.h"

namespace linkferry::URLRewriter {

namespace {

// Walks the positions `next` gives, ascending; `renew` is told the position of every rule that
// changed the link, after which the walk goes on from the next position.
template <class Next, class Renew>
Result walk(const RuleSet& rules, const LinkRequest& request, const RoutingContext& context,
            Next next, Renew renew) {
  LinkRequest current = request;
  std::vector<std::string> steps;
  // The subject caches what it read of the link, so it is renewed whenever the link changes.
  auto subject = std::make_unique<RuleEvaluator::Subject>(current, context);
  while (const std::optional<std::size_t> position = next(*subject)) {
    const Rule& rule = rules.rules[*position];
    const auto* rewrite = rule.action.kind.asRewrite();
    if (!rewrite || !rule.isActive(context.now)) continue;
    if (!RuleEvaluator::matches(rule.match, *subject)) continue;
    std::optional<URL> rewritten = rewrite->rewrite.apply(current.url);
    if (!rewritten) continue;
    steps.push_back("rule “" + rule.name + "”: " + current.url.absoluteString() + " → " +
                    rewritten->absoluteString());
    current.url = std::move(*rewritten);
    subject = std::make_unique<RuleEvaluator::Subject>(current, context);
    renew(*subject, *position);
  }
  return Result{std::move(current.url), std::move(steps)};
}

}  // namespace

Result apply(const RuleSet& rules, const LinkRequest& request, const RoutingContext& context) {
  std::size_t following = 0;
  return walk(
      rules, request, context,
      [&](const RuleEvaluator::Subject&) -> std::optional<std::size_t> {
        if (following >= rules.rules.size()) return std::nullopt;
        return following++;
      },
      [](const RuleEvaluator::Subject&, std::size_t) {});
}

Result apply(const RuleSet& rules, const RuleIndex& index, const LinkRequest& request,
             const RoutingContext& context) {
  std::optional<RuleIndex::Candidates> candidates;
  std::size_t after = 0;  // positions before this one are behind the walk
  return walk(
      rules, request, context,
      [&](const RuleEvaluator::Subject& subject) -> std::optional<std::size_t> {
        if (!candidates) candidates = index.candidates(subject);
        std::optional<std::size_t> position;
        do {
          position = candidates->next();
        } while (position && *position < after);
        return position;
      },
      [&](const RuleEvaluator::Subject&, std::size_t position) {
        // The changed link may match other rules: their candidates are taken afresh.
        candidates.reset();
        after = position + 1;
      });
}

}  // namespace linkferry::URLRewriter
