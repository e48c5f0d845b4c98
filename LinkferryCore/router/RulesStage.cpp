#include "router/RulesStage.h"

#include <utility>
#include <vector>

#include "foundation/L10n.h"
#include "rules/RuleEvaluator.h"

namespace linkferry {

RulesStage::RulesStage(std::shared_ptr<const RuleSet> ruleSet,
                       std::shared_ptr<const std::set<std::string>> knownBrowsers,
                       std::shared_ptr<const RuleIndex> index)
    : m_ruleSet(ruleSet ? std::move(ruleSet) : std::make_shared<const RuleSet>()),
      m_knownBrowsers(knownBrowsers ? std::move(knownBrowsers)
                                    : std::make_shared<const std::set<std::string>>()),
      m_index(index ? std::move(index) : std::make_shared<const RuleIndex>(m_ruleSet->rules)) {}

StageResult RulesStage::evaluate(const LinkRequest& request, const RoutingContext& context) const {
  std::vector<std::string> notes;
  // The link is looked at once for the whole list.
  const RuleEvaluator::Subject subject(request, context);
  // Only rules the index cannot rule out are looked at, in list order.
  RuleIndex::Candidates candidates = m_index->candidates(subject);
  while (const std::optional<std::size_t> position = candidates.next()) {
    const Rule& rule = m_ruleSet->rules[*position];
    if (!rule.isActive(context.now) || !RuleEvaluator::matches(rule.match, subject)) continue;
    const std::string detail = L10n::tr("rule “%@”", {rule.name});
    const RuleActionKind& kind = rule.action.kind;
    if (kind.asRewrite()) continue;
    if (const auto* app = kind.asOpenInApp()) {
      return StageResult::decided(RouteTarget::openInApp(app->bundleID),
                                  Reason{std::string(kID), detail});
    }
    if (kind.isIgnore()) {
      return StageResult::decided(RouteTarget::ignore(), Reason{std::string(kID), detail});
    }
    if (const auto* open = kind.asOpen()) {
      if (m_knownBrowsers->contains(open->target.browser)) {
        return StageResult::decided(RouteTarget::open(open->target),
                                    Reason{std::string(kID), detail});
      }
      notes.push_back(detail + ": unknown browser " + open->target.browser);
      continue;
    }
    if (const auto* prompt = kind.asPrompt()) {
      const Reason reason{std::string(kID), detail};
      std::vector<Candidate> candidates;
      for (const BrowserTarget& target : prompt->targets) {
        if (m_knownBrowsers->contains(target.browser)) {
          candidates.push_back(Candidate{target, 0, {reason}});
        }
      }
      if (!candidates.empty()) return StageResult::ask(std::move(candidates), reason);
      notes.push_back(detail + ": no known browser to prompt");
    }
  }
  if (notes.empty()) return StageResult::abstain("no rule matched");
  std::string joined;
  for (const std::string& note : notes) {
    if (!joined.empty()) joined += "; ";
    joined += note;
  }
  return StageResult::abstain("no usable rule (" + joined + ")");
}

}  // namespace linkferry
