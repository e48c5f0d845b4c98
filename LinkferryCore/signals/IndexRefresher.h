#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "signals/DirectoryWatcher.h"
#include "signals/SignalIndex.h"

namespace linkferry {

// Keeps the signal index fresh: watches the browsers' data folders, rebuilds the index once a
// burst of changes has been quiet for `debounce`, and rebuilds every `period` as a safety net for
// what the watcher misses. Each rebuild calls `build` (in production IndexBuilder over the
// catalog) and hands the result to `sink` (the router's setIndex).
//
// Actor-like: public operations run one at a time and may be called from any thread. `build` and
// `sink` run on the refresher's own timer thread, one rebuild at a time (a debounced and a
// periodic rebuild falling due together give one), with no lock of the refresher held, so they
// may call `poke`. A `build` that throws delivers nothing; the sink keeps its last index.
// Destruction stops everything and waits for a running rebuild to finish, so `build` and `sink`
// may use whatever outlives the refresher; they must not destroy it.
class IndexRefresher {
 public:
  using Duration = std::chrono::steady_clock::duration;
  using TimePoint = std::chrono::steady_clock::time_point;
  using Build = std::function<SignalIndex()>;
  using Sink = std::function<void(std::shared_ptr<const SignalIndex>)>;

  // Where the refresher's timer thread reads the time and waits. The steady clock by default.
  class Clock {
   public:
    virtual ~Clock() = default;
    virtual TimePoint now() const = 0;
    // Waits on `wakeup` (`lock` held on entry and on return) until `deadline` by this clock, or
    // for ever without one. May return early; the caller checks the time again.
    virtual void waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wakeup,
                           std::optional<TimePoint> deadline) = 0;
  };

  struct Options {
    std::shared_ptr<Clock> clock;            // null: the steady clock
    DirectoryWatcherFactory watcherFactory;  // empty: DirectoryWatcher::create
    std::chrono::milliseconds watcherLatency{1000};
  };

  IndexRefresher(Duration debounce, Duration period, Build build, Sink sink, Options options);
  IndexRefresher(Duration debounce, Duration period, Build build, Sink sink);
  ~IndexRefresher();
  IndexRefresher(const IndexRefresher&) = delete;
  IndexRefresher& operator=(const IndexRefresher&) = delete;

  // Stops whatever runs, then watches those of `folders` that exist (no watcher when none does,
  // or when the system gives none) and starts the periodic rebuild. Nothing is rebuilt at once:
  // the first rebuild comes `debounce` after a change, or after `period`.
  void start(const std::vector<std::filesystem::path>& folders);
  // Schedules a rebuild `debounce` from now, replacing one already scheduled; works whether or
  // not the refresher was started (an owner pokes after replacing the catalog).
  void poke();
  // Stops the watcher and drops the scheduled and the periodic rebuild. A rebuild already running
  // completes and still reaches the sink.
  void stop();
  // Whether a watcher runs (for diagnostics).
  bool isWatching() const;

 private:
  void schedule();  // the debounce, without the operation lock: the watcher's thread calls it
  void stopLocked();
  void runTimers();
  void rebuild() noexcept;

  const Duration m_debounce;
  const Duration m_period;
  const Build m_build;
  const Sink m_sink;
  const std::shared_ptr<Clock> m_clock;
  const DirectoryWatcherFactory m_watcherFactory;
  const std::chrono::milliseconds m_watcherLatency;

  // Serialises the public operations. Never held while waiting for the timer thread, and the
  // watcher's callback does not take it, so stopping a watcher that is reporting cannot deadlock.
  mutable std::mutex m_operation;
  std::unique_ptr<DirectoryWatcher> m_watcher;  // guarded by m_operation

  // The timers, shared with the timer thread.
  std::mutex m_state;
  std::condition_variable m_wakeup;
  std::optional<TimePoint> m_pendingAt;   // the debounced rebuild
  std::optional<TimePoint> m_periodicAt;  // the next periodic rebuild; absent when stopped
  uint64_t m_generation = 0;              // counts start and stop, so a late re-arm is dropped
  bool m_quit = false;

  std::thread m_timer;  // last: started once everything above exists
};

}  // namespace linkferry
