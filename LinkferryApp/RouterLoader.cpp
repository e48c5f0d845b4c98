#include "RouterLoader.h"

#include <chrono>
#include <exception>
#include <stdexcept>
#include <utility>

#include "foundation/Dates.h"
#include "foundation/Files.h"
#include "launching/DetachedLaunchRunner.h"
#include "preparation/NetworkShortLinkExpander.h"
#include "router/RouterSetup.h"
#include "rules/RuleSet.h"
#include "settings/AppSettings.h"
#include "signals/IndexBuilder.h"

namespace linkferry::RouterLoader {

namespace {

// Short links: at most 5 redirects followed, 3 seconds for the whole expansion, so a slow
// shortener delays a click by no more than that.
constexpr int kExpansionHops = 5;
constexpr std::chrono::milliseconds kExpansionTimeout{3000};

}  // namespace

Loaded load(const Options& options) {
  Loaded loaded{LinkferryPaths::defaultPaths(options.environment, options.home), nullptr, nullptr,
                {}};
  const LinkferryPaths& paths = loaded.paths;

  std::shared_ptr<const BrowserCatalog> catalog;
  try {
    catalog = std::make_shared<const BrowserCatalog>(
        RouterSetup::loadCatalog(paths, options.home, options.environment));
  } catch (const std::exception& error) {
    loaded.problems.push_back(error.what());
    catalog = std::make_shared<const BrowserCatalog>(
        BrowserCatalog::discoverLinux(options.home, options.environment, {}));
  }

  std::shared_ptr<const RuleSet> rules;
  try {
    rules = std::make_shared<const RuleSet>(RuleSet::load(paths.rules()));
  } catch (const std::exception& error) {
    loaded.problems.push_back(error.what());
    rules = std::make_shared<const RuleSet>();
  }

  std::shared_ptr<const AppSettings> settings;
  try {
    settings = std::make_shared<const AppSettings>(AppSettings::load(paths.settings()));
  } catch (const std::exception& error) {
    loaded.problems.push_back(error.what());
    settings = std::make_shared<const AppSettings>();
  }

  auto index = std::make_shared<const SignalIndex>();
  std::shared_ptr<const DeferredIndex> deferredIndex;
  if (options.readSignals && (settings->useSessions || settings->useHistory)) {
    const IndexBuilder builder = IndexBuilder::standard(settings->useSafariHistory);
    if (options.deferLoading) {
      deferredIndex = std::make_shared<const DeferredIndex>(
          [builder, catalog] { return builder.build(*catalog, Date::now()); });
    } else {
      index = std::make_shared<const SignalIndex>(builder.build(*catalog, Date::now()));
    }
  }

  if (options.deferLoading) {
    loaded.log = std::make_shared<DecisionLog>(DecisionLog::DeferLoad{}, paths.log(),
                                               settings->logRetentionDays, settings->keepHistory,
                                               [] { return Date::now(); });
  } else {
    loaded.log = std::make_shared<DecisionLog>(paths.log(), settings->logRetentionDays,
                                               settings->keepHistory, [] { return Date::now(); });
  }

  std::shared_ptr<LaunchRunner> runner = options.runner;
  if (!runner) runner = std::make_shared<DetachedLaunchRunner>();
  std::shared_ptr<const ShortLinkExpanding> expander = options.expander;
  if (!expander && options.network) {
    expander = std::make_shared<const NetworkShortLinkExpander>(kExpansionHops, kExpansionTimeout);
  }

  const std::filesystem::path rulesFile = paths.rules();
  Router::SaveRules saveRules = [rulesFile](const Router::RuleChange& change) {
    // The file is read again under its lock, so a rule added here keeps every edit made to the
    // file since it was loaded, and two processes remembering at once both keep theirs.
    const Files::ExclusiveLock lock(rulesFile);
    RuleSet stored;
    std::optional<std::string> text;
    try {
      text = Files::readIfExists(rulesFile);
      if (text) stored = RuleSet::decode(*text, rulesFile.string());
    } catch (const std::exception& error) {
      // Saving over a file that does not load would lose every rule the user wrote in it.
      throw std::runtime_error(std::string(error.what()) + "; fix " + rulesFile.string() +
                               " before adding rules");
    }
    RuleSet changed = change(stored);
    // The user's rules stay as they were written; only the change is new text.
    Files::writeAtomically(rulesFile, text ? changed.encodeEditing(*text, stored) : changed.encode());
    return changed;
  };

  loaded.router = std::make_shared<Router>(
      RouterState{catalog, rules, index, settings, LaunchPlatform::linux, deferredIndex},
      loaded.log,
      std::move(runner), std::move(expander), std::move(saveRules));
  return loaded;
}

}  // namespace linkferry::RouterLoader
