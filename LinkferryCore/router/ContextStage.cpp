#include "router/ContextStage.h"

#include <algorithm>
#include <string>
#include <utility>

#include "foundation/L10n.h"

namespace linkferry {

ContextStage::ContextStage(std::shared_ptr<const std::vector<BrowserTarget>> targets)
    : m_targets(targets ? std::move(targets)
                        : std::make_shared<const std::vector<BrowserTarget>>()) {}

StageResult ContextStage::evaluate(const LinkRequest&, const RoutingContext& context) const {
  std::vector<Candidate> candidates;
  auto addTargetsOf = [&](const std::string& browser, double weight, std::string_view detail) {
    const Reason reason{std::string(kID), L10n::tr(detail)};
    for (const BrowserTarget& target : *m_targets) {
      if (target.browser == browser) candidates.push_back(Candidate{target, weight, {reason}});
    }
  };
  const auto& frontmost = context.frontmostBrowser;
  const auto& lastUsed = context.lastUsedBrowser;
  const auto& profile = context.frontmostProfile;
  const bool profileKnown =
      frontmost && profile &&
      std::any_of(m_targets->begin(), m_targets->end(), [&](const BrowserTarget& target) {
        return target.browser == *frontmost && target.profile == profile;
      });
  if (profileKnown) {
    // The window shows one profile: that one first, the browser's others after it.
    const Reason window{std::string(kID), L10n::tr("frontmost browser window")};
    const Reason browser{std::string(kID), L10n::tr("frontmost browser")};
    for (const BrowserTarget& target : *m_targets) {
      if (target.browser != *frontmost) continue;
      if (target.profile == profile) {
        candidates.push_back(Candidate{target, kFrontmostWeight, {window}});
      } else {
        candidates.push_back(Candidate{target, kOtherProfileWeight, {browser}});
      }
    }
  } else if (frontmost) {
    addTargetsOf(*frontmost, kFrontmostWeight, "frontmost browser");
  }
  if (lastUsed && lastUsed != frontmost) addTargetsOf(*lastUsed, kLastUsedWeight, "last used browser");
  if (candidates.empty()) return StageResult::abstain("no browser context");
  return StageResult::ranked(std::move(candidates));
}

}  // namespace linkferry
