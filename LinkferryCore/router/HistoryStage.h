#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "foundation/Dates.h"
#include "router/PipelineStage.h"
#include "safety/PublicSuffixList.h"
#include "signals/DeferredIndex.h"
#include "signals/SignalIndex.h"

namespace linkferry {

// Where the user visited the link's site ("history"), from the signal index. With
// `decideOnSoleRecent`, the only target that visited within `recentWindow` decides; otherwise
// every target that visited is ranked by recency (up to 2 points, falling to 0 over 30 days) plus
// visit count (up to 1 point at 50 visits). A visit dated after `context.now` (a changed clock, a
// synced profile) counts as a visit now, so no entry scores above 3. Abstains "no registrable
// domain" and "no history for <domain>".
class HistoryStage final : public PipelineStage {
 public:
  static constexpr std::string_view kID = "history";
  static constexpr double kRecencySpan = 2592000.0;  // 30 days, in seconds
  static constexpr double kRecencyWeight = 2.0;
  static constexpr double kVisitsForFullWeight = 50.0;

  // A null index counts as empty. `recentWindow` in seconds.
  HistoryStage(std::shared_ptr<const SignalIndex> index, PublicSuffixList psl, double recentWindow,
               bool decideOnSoleRecent);
  // The index as it is made on first use; null counts as empty.
  HistoryStage(std::shared_ptr<const DeferredIndex> index, PublicSuffixList psl,
               double recentWindow, bool decideOnSoleRecent);

  std::string_view id() const override { return kID; }
  StageResult evaluate(const LinkRequest& request, const RoutingContext& context) const override;
  void prepare() const override { m_index->get(); }

  // The age of `date` at `now` as the user reads it: "%lld min ago" below an hour, "%lld h ago"
  // below a day, else "%lld d ago", in whole units (localised). A negative or undefined age
  // counts as 0.
  static std::string ago(Date date, Date now);

 private:
  std::shared_ptr<const DeferredIndex> m_index;
  PublicSuffixList m_psl;
  double m_recentWindow;
  bool m_decideOnSoleRecent;
};

}  // namespace linkferry
