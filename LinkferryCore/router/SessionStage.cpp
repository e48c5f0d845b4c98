#include "router/SessionStage.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "foundation/L10n.h"
#include "router/SiteDomain.h"

namespace linkferry {

SessionStage::SessionStage(std::shared_ptr<const SignalIndex> index, PublicSuffixList psl)
    : SessionStage(std::make_shared<const DeferredIndex>(std::move(index)), std::move(psl)) {}

SessionStage::SessionStage(std::shared_ptr<const DeferredIndex> index, PublicSuffixList psl)
    : m_index(index ? std::move(index) : std::make_shared<const DeferredIndex>(std::shared_ptr<const SignalIndex>())),
      m_psl(std::move(psl)) {}

StageResult SessionStage::evaluate(const LinkRequest& request, const RoutingContext&) const {
  const auto site = SiteDomain::of(request.url, m_psl);
  if (!site) return StageResult::abstain("no registrable domain");
  const std::string& domain = site->shown;
  const std::shared_ptr<const SignalIndex> index = m_index->get();
  const auto found = index->domains.find(site->key);
  if (found == index->domains.end() || found->second.sessions.empty()) {
    return StageResult::abstain("no session for " + domain);
  }
  const auto& sessions = found->second.sessions;

  const BrowserTarget* strong = nullptr;
  int strongCount = 0;
  for (const auto& [target, level] : sessions) {
    if (level == SessionLevel::strong) {
      strong = &target;
      ++strongCount;
    }
  }
  if (strongCount == 1) {
    return StageResult::decided(RouteTarget::open(*strong),
                                Reason{std::string(kID), L10n::tr("signed in to %@", {domain})});
  }

  const std::string signedIn = L10n::tr("signed in");
  const std::string hasCookies = L10n::tr("has cookies");
  std::vector<Candidate> candidates;
  candidates.reserve(sessions.size());
  for (const auto& [target, level] : sessions) {
    const bool isStrong = level == SessionLevel::strong;
    candidates.push_back(Candidate{target, isStrong ? kSignedInWeight : kCookiesWeight,
                                   {Reason{std::string(kID), isStrong ? signedIn : hasCookies}}});
  }
  // The map has no order of its own; listing by description keeps traces reproducible.
  std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    return a.target.description() < b.target.description();
  });
  return StageResult::ranked(std::move(candidates));
}

}  // namespace linkferry
