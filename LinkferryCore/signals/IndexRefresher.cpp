#include "signals/IndexRefresher.h"

#include <algorithm>
#include <exception>
#include <system_error>
#include <utility>

namespace linkferry {
namespace {

class SteadyClock final : public IndexRefresher::Clock {
 public:
  IndexRefresher::TimePoint now() const override { return std::chrono::steady_clock::now(); }
  void waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wakeup,
                 std::optional<IndexRefresher::TimePoint> deadline) override {
    if (deadline)
      wakeup.wait_until(lock, *deadline);
    else
      wakeup.wait(lock);
  }
};

}  // namespace

IndexRefresher::IndexRefresher(Duration debounce, Duration period, Build build, Sink sink,
                               Options options)
    : m_debounce(debounce),
      m_period(period),
      m_build(std::move(build)),
      m_sink(std::move(sink)),
      m_clock(options.clock ? std::move(options.clock) : std::make_shared<SteadyClock>()),
      m_watcherFactory(options.watcherFactory ? std::move(options.watcherFactory)
                                              : DirectoryWatcherFactory(&DirectoryWatcher::create)),
      m_watcherLatency(options.watcherLatency) {
  m_timer = std::thread([this] { runTimers(); });
}

IndexRefresher::IndexRefresher(Duration debounce, Duration period, Build build, Sink sink)
    : IndexRefresher(debounce, period, std::move(build), std::move(sink), Options{}) {}

IndexRefresher::~IndexRefresher() {
  {
    std::lock_guard operation(m_operation);
    stopLocked();
  }
  {
    std::lock_guard state(m_state);
    m_quit = true;
  }
  m_wakeup.notify_all();
  m_timer.join();  // waits for a running rebuild
}

void IndexRefresher::start(const std::vector<std::filesystem::path>& folders) {
  std::lock_guard operation(m_operation);
  stopLocked();

  std::vector<std::filesystem::path> existing;
  for (const auto& folder : folders) {
    std::error_code error;
    if (std::filesystem::exists(folder, error)) existing.push_back(folder);
  }
  if (!existing.empty()) {
    try {
      // The callback only touches the timers, never the operation lock: stopping the watcher
      // under that lock waits for a callback in flight.
      auto watcher =
          m_watcherFactory(std::move(existing), m_watcherLatency, [this] { schedule(); });
      if (watcher) {
        watcher->start();
        m_watcher = std::move(watcher);
      }
    } catch (const std::exception&) {
      // No watcher (the system's watch limits); the periodic rebuild keeps the index fresh.
    }
  }

  {
    std::lock_guard state(m_state);
    ++m_generation;
    m_periodicAt = m_clock->now() + m_period;
  }
  m_wakeup.notify_all();
}

void IndexRefresher::poke() {
  std::lock_guard operation(m_operation);
  schedule();
}

void IndexRefresher::stop() {
  std::lock_guard operation(m_operation);
  stopLocked();
}

bool IndexRefresher::isWatching() const {
  std::lock_guard operation(m_operation);
  return m_watcher != nullptr;
}

void IndexRefresher::schedule() {
  {
    std::lock_guard state(m_state);
    m_pendingAt = m_clock->now() + m_debounce;
  }
  m_wakeup.notify_all();
}

void IndexRefresher::stopLocked() {
  // The watcher first: a change it reports while stopping would otherwise schedule a rebuild
  // after the timers were cleared.
  if (m_watcher) {
    m_watcher->stop();
    m_watcher.reset();
  }
  {
    std::lock_guard state(m_state);
    ++m_generation;
    m_pendingAt.reset();
    m_periodicAt.reset();
  }
  m_wakeup.notify_all();
}

void IndexRefresher::runTimers() {
  std::unique_lock state(m_state);
  while (!m_quit) {
    const auto now = m_clock->now();
    const bool pendingDue = m_pendingAt && *m_pendingAt <= now;
    const bool periodicDue = m_periodicAt && *m_periodicAt <= now;
    if (pendingDue || periodicDue) {
      if (pendingDue) m_pendingAt.reset();
      if (periodicDue) m_periodicAt.reset();
      const auto generation = m_generation;
      state.unlock();
      rebuild();
      state.lock();
      // The period counts from the end of a rebuild, so a slow build never piles up behind
      // itself. A start or stop meanwhile has set the timer its own way.
      if (periodicDue && generation == m_generation) m_periodicAt = m_clock->now() + m_period;
      continue;
    }
    std::optional<TimePoint> next = m_pendingAt;
    if (m_periodicAt && (!next || *m_periodicAt < *next)) next = m_periodicAt;
    m_clock->waitUntil(state, m_wakeup, next);
  }
}

void IndexRefresher::rebuild() noexcept {
  std::shared_ptr<const SignalIndex> index;
  try {
    index = std::make_shared<const SignalIndex>(m_build());
  } catch (...) {
    return;  // the sink keeps the last good index; the next change or period tries again
  }
  try {
    m_sink(std::move(index));
  } catch (...) {
    // The sink's failure is its own; the timers go on.
  }
}

}  // namespace linkferry
