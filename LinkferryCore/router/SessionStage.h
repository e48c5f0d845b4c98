#pragma once

#include <memory>
#include <string_view>

#include "router/PipelineStage.h"
#include "safety/PublicSuffixList.h"
#include "signals/DeferredIndex.h"
#include "signals/SignalIndex.h"

namespace linkferry {

// Where the user is signed in to the link's site ("session"), from the signal index: the one
// target with a strong session decides; otherwise every target with a session is ranked, 3 for a
// strong one ("signed in"), 1 for cookies only ("has cookies"). Abstains "no registrable domain"
// and "no session for <domain>".
class SessionStage final : public PipelineStage {
 public:
  static constexpr std::string_view kID = "session";
  static constexpr double kSignedInWeight = 3.0;
  static constexpr double kCookiesWeight = 1.0;

  // A null index counts as empty.
  SessionStage(std::shared_ptr<const SignalIndex> index, PublicSuffixList psl);
  // The index as it is made on first use; null counts as empty.
  SessionStage(std::shared_ptr<const DeferredIndex> index, PublicSuffixList psl);

  std::string_view id() const override { return kID; }
  StageResult evaluate(const LinkRequest& request, const RoutingContext& context) const override;
  void prepare() const override { m_index->get(); }

 private:
  std::shared_ptr<const DeferredIndex> m_index;
  PublicSuffixList m_psl;
};

}  // namespace linkferry
