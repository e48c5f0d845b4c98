#pragma once

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "RouterLoader.h"
#include "ClickHandler.h"
#include "router/Router.h"
#include "signals/DirectoryWatcher.h"
#include "signals/IndexRefresher.h"

namespace linkferry {

// Keeps a running service's routers in step with the user's files: rules.json, settings.json and
// browsers.json are read again when they change (a file that fails to load keeps the last good
// state; the problem is logged and listed by problems()), desktop entries added or removed
// reload the catalog and the click handler's view of the installed apps, and an IndexRefresher
// rebuilds the signal index from the browsers' profile folders. Every new part reaches the router
// through its setters, as a new state for the clicks that arrive after it.
//
// Threads: the watchers and the refresher call in on their own threads; every public operation
// is safe from any thread, and one reload runs at a time.
class ServiceReloader {
 public:
  using Environment = std::map<std::string, std::string>;

  struct Options {
    Environment environment;
    std::filesystem::path home;
    // The index is rebuilt this long after the browsers' folders were last changed, and every
    // period in any case.
    std::chrono::milliseconds debounce{0};
    std::chrono::milliseconds period{0};
    // Read the browsers' history and cookies (off only for tests of other things).
    bool readSignals = true;
  };

  // Reads the files again through the reload path (which knows which part failed), then starts
  // watching the data folder and the desktop entries' folders. `loaded` and `clicks` must
  // outlive this object. Never fails on the user's files; a watcher that cannot start is logged
  // and the files are still checked on every click.
  ServiceReloader(Options options, const RouterLoader::Loaded& loaded, ClickHandler& clicks);
  // Stops the watchers and the refresher before anything they call into goes.
  ~ServiceReloader();
  ServiceReloader(const ServiceReloader&) = delete;
  ServiceReloader& operator=(const ServiceReloader&) = delete;

  // Reloads those of rules.json, settings.json and browsers.json that changed since last seen
  // (by inode, size and modification time).
  void reloadChangedFiles();
  // What failed to load and is kept at its last good state, one sentence each, by part.
  std::vector<std::string> problems() const;

 private:
  struct Stamp {
    bool exists = false;
    ino_t inode = 0;
    off_t size = 0;
    long long modified = 0;
    bool operator==(const Stamp&) const = default;
  };

  // These run with m_reload held.
  void reloadCatalog();
  void startRefresher(const BrowserCatalog& catalog);
  void report(const std::string& part, const std::optional<std::string>& problem);

  const Options m_options;
  const RouterLoader::Loaded& m_loaded;
  ClickHandler& m_clicks;

  mutable std::mutex m_reload;
  Stamp m_rulesStamp, m_settingsStamp, m_browsersStamp;
  std::map<std::string, std::string> m_problems;  // part ("rules", ...) → what failed

  std::unique_ptr<IndexRefresher> m_refresher;
  std::unique_ptr<DirectoryWatcher> m_dataWatcher;
  std::unique_ptr<DirectoryWatcher> m_entriesWatcher;
};

}  // namespace linkferry
