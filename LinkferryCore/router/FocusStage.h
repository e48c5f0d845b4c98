#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "router/PipelineStage.h"
#include "routing/FocusDefault.h"

namespace linkferry {

// The browser chosen for the active system Focus filter ("focus"): decided when it is to be used
// always, else ranked at 100 so it leads every other suggestion. Abstains "no Focus filter" and
// "Focus filter browser <id> is unknown".
class FocusStage final : public PipelineStage {
 public:
  static constexpr std::string_view kID = "focus";
  static constexpr double kWeight = 100.0;

  FocusStage(std::optional<FocusDefault> focus,
             std::shared_ptr<const std::set<std::string>> knownBrowsers);

  std::string_view id() const override { return kID; }
  StageResult evaluate(const LinkRequest& request, const RoutingContext& context) const override;

 private:
  std::optional<FocusDefault> m_focus;
  std::shared_ptr<const std::set<std::string>> m_knownBrowsers;
};

}  // namespace linkferry
