#include "rules/RuleTargets.h"

#include <utility>

namespace linkferry::RuleTargets {

std::vector<BrowserTarget> of(const RuleAction& action) {
  if (const auto* open = action.kind.asOpen()) return {open->target};
  if (const auto* prompt = action.kind.asPrompt()) return prompt->targets;
  return {};
}

std::shared_ptr<const RuleSet> resolved(const std::shared_ptr<const RuleSet>& set,
                                        const BrowserCatalog& catalog) {
  if (!set) return set;
  std::shared_ptr<RuleSet> copy;
  auto changed = [&]() -> RuleSet& {
    if (!copy) copy = std::make_shared<RuleSet>(*set);
    return *copy;
  };
  for (std::size_t i = 0; i < set->rules.size(); ++i) {
    const RuleAction& action = set->rules[i].action;
    if (const auto* open = action.kind.asOpen()) {
      BrowserTarget target = catalog.resolve(open->target).target;
      if (target != open->target) {
        changed().rules[i].action.kind = RuleActionKind::open(std::move(target));
      }
    } else if (const auto* prompt = action.kind.asPrompt()) {
      std::vector<BrowserTarget> targets;
      for (const BrowserTarget& written : prompt->targets) {
        targets.push_back(catalog.resolve(written).target);
      }
      if (targets != prompt->targets) {
        changed().rules[i].action.kind = RuleActionKind::prompt(std::move(targets));
      }
    }
  }
  if (!copy) return set;
  return copy;
}

}  // namespace linkferry::RuleTargets
