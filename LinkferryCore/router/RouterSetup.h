#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "browsers/BrowserCatalog.h"
#include "browsers/DesktopEntries.h"
#include "rules/RuleIndex.h"
#include "rules/RuleSet.h"
#include "router/Pipeline.h"
#include "settings/AppSettings.h"
#include "settings/LinkferryPaths.h"
#include "signals/DeferredIndex.h"
#include "signals/SignalIndex.h"

namespace linkferry::RouterSetup {

// How long the history stage looks back for a "sole recent" target: 7 days, in seconds.
inline constexpr double kRecentHistoryWindow = 604800.0;

// The standard pipeline: rules always; app links when switched on; the Focus filter when the
// settings name a browser for it; then, unless `rulesOnly`, sessions, history (deciding on a sole
// recent target) and the browser context, each when switched on. The target order is
// `targetOrder`, or the catalog's targets when absent. Null parts count as empty. Never fails.
Pipeline pipeline(const std::shared_ptr<const BrowserCatalog>& catalog,
                  const std::shared_ptr<const RuleSet>& rules,
                  const std::shared_ptr<const SignalIndex>& index,
                  const std::optional<std::vector<BrowserTarget>>& targetOrder, bool rulesOnly,
                  const AppSettings& settings);
// The same with an index made when a stage first needs it, and `ruleIndex` (of `rules`) shared
// with the rules stage; made there when null.
Pipeline pipeline(const std::shared_ptr<const BrowserCatalog>& catalog,
                  const std::shared_ptr<const RuleSet>& rules,
                  const std::shared_ptr<const DeferredIndex>& index,
                  const std::optional<std::vector<BrowserTarget>>& targetOrder, bool rulesOnly,
                  const AppSettings& settings,
                  std::shared_ptr<const RuleIndex> ruleIndex = nullptr);

// The catalog of this Linux machine: the web-link handlers among the desktop entries found through
// `environment`, merged with the custom definitions of "browsers.json" in the data folder, with
// profiles read below `home`. No browsers.json means no custom browsers. Throws std::system_error
// when the file cannot be read and JsonError when it is malformed (both name the file).
BrowserCatalog loadCatalog(const LinkferryPaths& paths, const std::filesystem::path& home,
                           const DesktopEntries::Environment& environment);

}  // namespace linkferry::RouterSetup
