#include "router/RouterSetup.h"

#include <set>
#include <string>
#include <utility>

#include "router/AppLinkStage.h"
#include "router/ContextStage.h"
#include "router/FocusStage.h"
#include "router/HistoryStage.h"
#include "router/RulesStage.h"
#include "router/SessionStage.h"
#include "safety/PublicSuffixList.h"

namespace linkferry::RouterSetup {

Pipeline pipeline(const std::shared_ptr<const BrowserCatalog>& catalog,
                  const std::shared_ptr<const RuleSet>& rules,
                  const std::shared_ptr<const SignalIndex>& index,
                  const std::optional<std::vector<BrowserTarget>>& targetOrder, bool rulesOnly,
                  const AppSettings& settings) {
  return pipeline(catalog, rules, std::make_shared<const DeferredIndex>(index), targetOrder,
                  rulesOnly, settings);
}

Pipeline pipeline(const std::shared_ptr<const BrowserCatalog>& catalog,
                  const std::shared_ptr<const RuleSet>& rules,
                  const std::shared_ptr<const DeferredIndex>& index,
                  const std::optional<std::vector<BrowserTarget>>& targetOrder, bool rulesOnly,
                  const AppSettings& settings, std::shared_ptr<const RuleIndex> ruleIndex) {
  Pipeline pipeline;
  if (targetOrder) {
    pipeline.targetOrder = *targetOrder;
  } else if (catalog) {
    pipeline.targetOrder = catalog->allTargets();
  }
  auto knownBrowsers = std::make_shared<std::set<std::string>>();
  if (catalog) {
    for (const CatalogBrowser& browser : catalog->browsers) {
      knownBrowsers->insert(browser.definition.id);
    }
  }
  const PublicSuffixList& psl = PublicSuffixList::shared();
  pipeline.stages.push_back(
      std::make_shared<RulesStage>(rules, knownBrowsers, std::move(ruleIndex)));
  if (settings.appLinks) {
    pipeline.stages.push_back(std::make_shared<AppLinkStage>(settings.appLinkOverrides));
  }
  if (settings.focusDefault) {
    pipeline.stages.push_back(std::make_shared<FocusStage>(settings.focusDefault, knownBrowsers));
  }
  if (!rulesOnly) {
    if (settings.useSessions) pipeline.stages.push_back(std::make_shared<SessionStage>(index, psl));
    if (settings.useHistory) {
      pipeline.stages.push_back(
          std::make_shared<HistoryStage>(index, psl, kRecentHistoryWindow, true));
    }
    if (settings.useContext) {
      pipeline.stages.push_back(std::make_shared<ContextStage>(
          std::make_shared<const std::vector<BrowserTarget>>(pipeline.targetOrder)));
    }
  }
  pipeline.stageTimeout = Pipeline::kDefaultStageTimeout;
  return pipeline;
}

BrowserCatalog loadCatalog(const LinkferryPaths& paths, const std::filesystem::path& home,
                           const DesktopEntries::Environment& environment) {
  return BrowserCatalog::discoverLinux(
      home, environment, BrowserCatalog::loadCustomDefinitions(paths.customBrowsers()));
}

}  // namespace linkferry::RouterSetup
