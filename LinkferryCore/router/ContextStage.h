#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "browsers/BrowserTarget.h"
#include "router/PipelineStage.h"

namespace linkferry {

// Which browser the user is in ("context"): every target of the frontmost browser is ranked 0.5
// ("frontmost browser"), then every target of the last used browser, when that is another one,
// 0.3 ("last used browser"). When the context names the frontmost window's profile and that
// profile is among the targets, only its targets get 0.5 ("frontmost browser window") and the
// browser's other targets 0.4. Abstains "no browser context".
class ContextStage final : public PipelineStage {
 public:
  static constexpr std::string_view kID = "context";
  static constexpr double kFrontmostWeight = 0.5;
  static constexpr double kOtherProfileWeight = 0.4;
  static constexpr double kLastUsedWeight = 0.3;

  // `targets`: the targets to offer, in order (the catalog's). A null pointer counts as none.
  explicit ContextStage(std::shared_ptr<const std::vector<BrowserTarget>> targets);

  std::string_view id() const override { return kID; }
  StageResult evaluate(const LinkRequest& request, const RoutingContext& context) const override;

 private:
  std::shared_ptr<const std::vector<BrowserTarget>> m_targets;
};

}  // namespace linkferry
