#pragma once

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ClickHandler.h"
#include "RouterLoader.h"
#include "browsers/DesktopEntry.h"
#include "foundation/EventLoop.h"
#include "foundation/Json.h"
#include "router/PickerRequest.h"
#include "signals/DirectoryWatcher.h"
#include "signals/IndexRefresher.h"

namespace linkferry {

// `linkferry serve`: one process per user holding a warm Router (catalog, rules, signal index,
// settings) and the decision log, answering clicks on a Unix socket (ServiceClient has the
// protocol). The signal index is rebuilt by an IndexRefresher over the browsers' profile folders;
// rules.json, settings.json and browsers.json are reloaded when they change (a file that fails to
// load keeps the last good state, and the problem is logged and reported by "status"); desktop
// entries added or removed reload the catalog.
//
// Threads: one event loop reads requests from every connection without ever waiting for one, and
// a few workers answer them, so a silent or slow client delays nobody. Each connection's requests
// are answered in order. Every click is in the log (written through by DecisionLog) before its
// answer is sent.
class RouterService {
 public:
  using Environment = std::map<std::string, std::string>;

  struct Options {
    Environment environment;
    std::filesystem::path home;
    // Exit after this long without a connection; zero: never.
    std::chrono::milliseconds idleExit{0};
    // The index is rebuilt this long after the browsers' folders were last changed, and every
    // period in any case.
    std::chrono::milliseconds debounce{kDefaultDebounce};
    std::chrono::milliseconds period{kDefaultPeriod};
    // A connection that sends no complete request for this long is closed.
    std::chrono::milliseconds requestTimeout{kDefaultRequestTimeout};
    // Read the browsers' history and cookies (off only for tests of other things).
    bool readSignals = true;
    // Follows short links; the network expander when null.
    std::shared_ptr<const ShortLinkExpanding> expander;
  };
  static constexpr std::chrono::milliseconds kDefaultDebounce{5'000};
  static constexpr std::chrono::milliseconds kDefaultPeriod{30 * 60'000};
  static constexpr std::chrono::milliseconds kDefaultRequestTimeout{30'000};
  static constexpr std::size_t kWorkers = 4;

  // Loads everything (RouterLoader) and starts watching. Never fails on the user's files.
  explicit RouterService(Options options);
  ~RouterService();
  RouterService(const RouterService&) = delete;
  RouterService& operator=(const RouterService&) = delete;

  // Serves `listener` until stop() or the idle exit. Returns when every answer was sent.
  void run(int listener);
  // Safe from any thread and from a signal handler's thread.
  void stop();

  // One request line in, one answer object out. `peerPid` is the client process (for the app the
  // link was clicked in). Never throws: a malformed request gets {"ok": false, "error"}.
  JsonValue answer(const std::string& line, int peerPid);

 private:
  struct Stamp {
    bool exists = false;
    ino_t inode = 0;
    off_t size = 0;
    long long modified = 0;
    bool operator==(const Stamp&) const = default;
  };
  struct Connection;

  void reloadChangedFiles();
  void reloadCatalog();
  void startRefresher(const BrowserCatalog& catalog);
  void report(const std::string& part, const std::optional<std::string>& problem);
  JsonValue click(const JsonReader& request, int peerPid);
  JsonValue pickerAnswer(const JsonReader& request);
  JsonValue answered(const ClickOutcome& outcome);
  JsonValue index();
  JsonValue status();

  void accept(int descriptor);
  void readFrom(const std::shared_ptr<Connection>& connection);
  void dispatch(const std::shared_ptr<Connection>& connection, std::string line);
  void close(const std::shared_ptr<Connection>& connection);
  void armIdleExit();
  void work();

  const Options m_options;
  RouterLoader::Loaded m_loaded;
  // Every click and picker answer; it gathers each click's context over the display and bus
  // connections it keeps.
  ClickHandler m_clicks;

  // The reload state, one reload at a time.
  std::mutex m_reload;
  Stamp m_rulesStamp, m_settingsStamp, m_browsersStamp;
  std::map<std::string, std::string> m_problems;  // part ("rules", ...) → what failed

  std::unique_ptr<IndexRefresher> m_refresher;
  std::unique_ptr<DirectoryWatcher> m_dataWatcher;
  std::unique_ptr<DirectoryWatcher> m_entriesWatcher;

  EventLoop m_loop;
  std::size_t m_connections = 0;  // loop thread only
  std::optional<EventLoop::Token> m_idleTimer;

  std::mutex m_queueMutex;
  std::condition_variable m_queueReady;
  std::deque<std::function<void()>> m_queue;
  bool m_quit = false;
  std::vector<std::thread> m_workers;
};

}  // namespace linkferry
