#pragma once

#include <map>
#include <string>
#include <string_view>

#include "router/PipelineStage.h"

namespace linkferry {

// Links better opened in a desktop app ("app-links"): decides `openLink` with the app's own link
// and the installed app's identifier when the link matches an enabled entry of AppLinks whose app
// is among `context.installedApps` (bundle identifiers on macOS, desktop identifiers of entries
// that declare the app's scheme handler on Linux, see AppLinks::linuxInstalledApps). The reason
// reads "opens in the <name> app". Abstains "no app link".
class AppLinkStage final : public PipelineStage {
 public:
  static constexpr std::string_view kID = "app-links";

  // `overrides`: the settings' app-link switches, by AppLink id.
  explicit AppLinkStage(std::map<std::string, bool> overrides = {});

  std::string_view id() const override { return kID; }
  StageResult evaluate(const LinkRequest& request, const RoutingContext& context) const override;

 private:
  std::map<std::string, bool> m_overrides;
};

}  // namespace linkferry
