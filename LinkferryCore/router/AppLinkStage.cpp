#include "router/AppLinkStage.h"

#include <utility>

#include "foundation/L10n.h"
#include "preparation/AppLinks.h"

namespace linkferry {

AppLinkStage::AppLinkStage(std::map<std::string, bool> overrides)
    : m_overrides(std::move(overrides)) {}

StageResult AppLinkStage::evaluate(const LinkRequest& request,
                                   const RoutingContext& context) const {
  auto found = AppLinks::match(request.url, context.installedApps, m_overrides);
  if (!found) return StageResult::abstain("no app link");
  return StageResult::decided(
      RouteTarget::openLink(std::move(found->url), std::move(found->bundleID)),
      Reason{std::string(kID), L10n::tr("opens in the %@ app", {found->link.name})});
}

}  // namespace linkferry
