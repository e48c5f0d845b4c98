#pragma once

#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "router/PipelineStage.h"
#include "rules/RuleIndex.h"
#include "rules/RuleSet.h"

namespace linkferry {

// The user's rules ("rules"): the first active rule that matches and can be carried out decides
// (open, open in app, ignore) or asks (prompt). Rewrite rules are passed over (they act while the
// link is prepared), and rules whose targets name no browser of the catalog are skipped with a
// note: "no usable rule (<rule reason>: unknown browser <id>; …)". Without any: "no rule matched".
class RulesStage final : public PipelineStage {
 public:
  static constexpr std::string_view kID = "rules";

  // `knownBrowsers`: the identifiers of the catalog's browsers. Null pointers count as empty.
  // `index`: a RuleIndex of `ruleSet`'s rules, for sharing one with the other walks of the same
  // rules (rewrites, the rule behind a decision); made here when null.
  RulesStage(std::shared_ptr<const RuleSet> ruleSet,
             std::shared_ptr<const std::set<std::string>> knownBrowsers,
             std::shared_ptr<const RuleIndex> index = nullptr);

  std::string_view id() const override { return kID; }
  StageResult evaluate(const LinkRequest& request, const RoutingContext& context) const override;

 private:
  std::shared_ptr<const RuleSet> m_ruleSet;
  std::shared_ptr<const std::set<std::string>> m_knownBrowsers;
  std::shared_ptr<const RuleIndex> m_index;
};

}  // namespace linkferry
