#include "router/FocusStage.h"

#include <utility>

#include "foundation/L10n.h"

namespace linkferry {

FocusStage::FocusStage(std::optional<FocusDefault> focus,
                       std::shared_ptr<const std::set<std::string>> knownBrowsers)
    : m_focus(std::move(focus)),
      m_knownBrowsers(knownBrowsers ? std::move(knownBrowsers)
                                    : std::make_shared<const std::set<std::string>>()) {}

StageResult FocusStage::evaluate(const LinkRequest&, const RoutingContext&) const {
  if (!m_focus) return StageResult::abstain("no Focus filter");
  const BrowserTarget& target = m_focus->target;
  if (!m_knownBrowsers->contains(target.browser)) {
    return StageResult::abstain("Focus filter browser " + target.browser + " is unknown");
  }
  Reason reason{std::string(kID), L10n::tr("Focus filter")};
  if (m_focus->alwaysUse) return StageResult::decided(RouteTarget::open(target), std::move(reason));
  return StageResult::ranked({Candidate{target, kWeight, {std::move(reason)}}});
}

}  // namespace linkferry
