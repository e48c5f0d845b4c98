#include "router/HistoryStage.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "foundation/L10n.h"
#include "router/SiteDomain.h"

namespace linkferry {
namespace {

// Seconds from `date` to `now`; a date in the future or one that is not a number is 0 old.
double ageOf(Date date, Date now) {
  const double age = now.secondsSince(date);
  return std::isnan(age) || age < 0 ? 0 : age;
}

}  // namespace

HistoryStage::HistoryStage(std::shared_ptr<const SignalIndex> index, PublicSuffixList psl,
                           double recentWindow, bool decideOnSoleRecent)
    : HistoryStage(std::make_shared<const DeferredIndex>(std::move(index)), std::move(psl),
                   recentWindow, decideOnSoleRecent) {}

HistoryStage::HistoryStage(std::shared_ptr<const DeferredIndex> index, PublicSuffixList psl,
                           double recentWindow, bool decideOnSoleRecent)
    : m_index(index ? std::move(index) : std::make_shared<const DeferredIndex>(std::shared_ptr<const SignalIndex>())),
      m_psl(std::move(psl)),
      m_recentWindow(recentWindow),
      m_decideOnSoleRecent(decideOnSoleRecent) {}

std::string HistoryStage::ago(Date date, Date now) {
  const double age = ageOf(date, now);
  // Ages beyond any calendar are capped so the conversion to an integer stays defined.
  auto whole = [age](double unit) {
    return static_cast<std::int64_t>(std::min(age / unit, 1e15));
  };
  if (age < 3600) return L10n::tr("%lld min ago", {whole(60)});
  if (age < 86400) return L10n::tr("%lld h ago", {whole(3600)});
  return L10n::tr("%lld d ago", {whole(86400)});
}

StageResult HistoryStage::evaluate(const LinkRequest& request,
                                   const RoutingContext& context) const {
  const auto site = SiteDomain::of(request.url, m_psl);
  if (!site) return StageResult::abstain("no registrable domain");
  const std::string& domain = site->shown;
  const std::shared_ptr<const SignalIndex> index = m_index->get();
  const auto found = index->domains.find(site->key);
  if (found == index->domains.end() || found->second.history.empty()) {
    return StageResult::abstain("no history for " + domain);
  }
  const auto& history = found->second.history;

  if (m_decideOnSoleRecent) {
    const std::pair<const BrowserTarget, HistoryStat>* recent = nullptr;
    int recentCount = 0;
    for (const auto& entry : history) {
      if (ageOf(entry.second.lastVisit, context.now) <= m_recentWindow) {
        recent = &entry;
        ++recentCount;
      }
    }
    if (recentCount == 1) {
      return StageResult::decided(
          RouteTarget::open(recent->first),
          Reason{std::string(kID),
                 L10n::tr("only target that visited %@ recently (%@)",
                          {domain, ago(recent->second.lastVisit, context.now)})});
    }
  }

  std::vector<Candidate> candidates;
  candidates.reserve(history.size());
  for (const auto& [target, stat] : history) {
    const double age = ageOf(stat.lastVisit, context.now);
    const double recency = kRecencyWeight * std::max(0.0, 1 - age / kRecencySpan);
    const double visits =
        static_cast<double>(std::clamp<std::int64_t>(stat.visits, 0, 50)) / kVisitsForFullWeight;
    candidates.push_back(
        Candidate{target,
                  recency + visits,
                  {Reason{std::string(kID), L10n::tr("visited %@", {ago(stat.lastVisit, context.now)})}}});
  }
  std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    return a.target.description() < b.target.description();
  });
  return StageResult::ranked(std::move(candidates));
}

}  // namespace linkferry
