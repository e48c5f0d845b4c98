#include "ServiceReloader.h"

#include <exception>
#include <iostream>
#include <utility>

#include "browsers/DesktopEntries.h"
#include "foundation/Dates.h"
#include "router/RouterSetup.h"
#include "rules/RuleSet.h"
#include "settings/AppSettings.h"
#include "signals/IndexBuilder.h"

namespace linkferry {

namespace {

void logLine(const std::string& line) {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  std::cerr << "linkferry serve: " << line << std::endl;
}

}  // namespace

ServiceReloader::ServiceReloader(Options options, const RouterLoader::Loaded& loaded,
                                 ClickHandler& clicks)
    : m_options(std::move(options)), m_loaded(loaded), m_clicks(clicks) {
  std::error_code ignored;
  std::filesystem::create_directories(m_loaded.paths.root, ignored);
  reloadChangedFiles();
  {
    std::lock_guard lock(m_reload);
    if (!m_browsersStamp.exists) {
      startRefresher(*m_loaded.router->state().catalog);
    }
  }
  try {
    m_dataWatcher = DirectoryWatcher::create({m_loaded.paths.root}, std::chrono::milliseconds(100),
                                             [this] { reloadChangedFiles(); });
    m_dataWatcher->start();
    m_entriesWatcher = DirectoryWatcher::create(
        DesktopEntries::applicationDirectories(m_options.home, m_options.environment),
        std::chrono::milliseconds(500), [this] {
          std::lock_guard lock(m_reload);
          reloadCatalog();
        });
    m_entriesWatcher->start();
  } catch (const std::exception& error) {
    // Without a watcher every click still checks the files itself.
    logLine(std::string("cannot watch for changes: ") + error.what());
  }
}

ServiceReloader::~ServiceReloader() {
  m_dataWatcher.reset();
  m_entriesWatcher.reset();
  m_refresher.reset();
}

std::vector<std::string> ServiceReloader::problems() const {
  std::lock_guard lock(m_reload);
  std::vector<std::string> problems;
  for (const auto& [part, problem] : m_problems) problems.push_back(problem);
  return problems;
}

void ServiceReloader::report(const std::string& part, const std::optional<std::string>& problem) {
  const auto found = m_problems.find(part);
  if (problem) {
    if (found == m_problems.end() || found->second != *problem) {
      logLine(*problem + "; keeping the last good " + part);
    }
    m_problems[part] = *problem;
  } else if (found != m_problems.end()) {
    logLine("the " + part + " load again");
    m_problems.erase(found);
  }
}

void ServiceReloader::reloadChangedFiles() {
  const auto stampOf = [](const std::filesystem::path& file) {
    struct stat status {};
    Stamp stamp;
    if (::stat(file.c_str(), &status) == 0) {
      stamp = Stamp{true, status.st_ino, status.st_size,
                    static_cast<long long>(status.st_mtim.tv_sec) * 1'000'000'000LL +
                        status.st_mtim.tv_nsec};
    }
    return stamp;
  };
  std::lock_guard lock(m_reload);
  const LinkferryPaths& paths = m_loaded.paths;

  if (Stamp stamp = stampOf(paths.rules()); stamp != m_rulesStamp) {
    m_rulesStamp = stamp;
    try {
      auto rules = std::make_shared<const RuleSet>(RuleSet::load(paths.rules()));
      m_loaded.router->setRules(rules);
      report("rules", std::nullopt);
    } catch (const std::exception& error) {
      report("rules", std::string(error.what()));
    }
  }
  if (Stamp stamp = stampOf(paths.settings()); stamp != m_settingsStamp) {
    m_settingsStamp = stamp;
    try {
      auto settings = std::make_shared<const AppSettings>(AppSettings::load(paths.settings()));
      m_loaded.router->setSettings(settings);
      report("settings", std::nullopt);
    } catch (const std::exception& error) {
      report("settings", std::string(error.what()));
    }
  }
  if (Stamp stamp = stampOf(paths.customBrowsers()); stamp != m_browsersStamp) {
    m_browsersStamp = stamp;
    reloadCatalog();
  }
}

void ServiceReloader::reloadCatalog() {
  m_clicks.reloadDesktopEntries();
  try {
    auto catalog = std::make_shared<const BrowserCatalog>(
        RouterSetup::loadCatalog(m_loaded.paths, m_options.home, m_options.environment));
    m_loaded.router->setCatalog(catalog);
    report("browsers", std::nullopt);
    startRefresher(*catalog);
    // Profiles may have come or gone: their signals are read again soon.
    if (m_refresher) m_refresher->poke();
  } catch (const std::exception& error) {
    report("browsers", std::string(error.what()));
  }
}

void ServiceReloader::startRefresher(const BrowserCatalog& catalog) {
  const auto settings = m_loaded.router->state().settings;
  if (!m_options.readSignals || !(settings->useSessions || settings->useHistory)) return;
  std::vector<std::filesystem::path> folders;
  for (const CatalogBrowser& browser : catalog.browsers) {
    for (const BrowserProfile& profile : browser.profiles) folders.push_back(profile.path);
  }
  if (!m_refresher) {
    m_refresher = std::make_unique<IndexRefresher>(
        m_options.debounce, m_options.period,
        [this] {
          const IndexBuilder builder = IndexBuilder::standard(m_loaded.router->state().settings->useSafariHistory);
          return builder.build(*m_loaded.router->state().catalog, Date::now());
        },
        [this](std::shared_ptr<const SignalIndex> index) {
          m_loaded.router->setIndex(index);
        });
  }
  m_refresher->start(folders);
}

}  // namespace linkferry
