#include "signals/IndexRefresher.h"

#include <atomic>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace linkferry {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::TemporaryDirectory;

// Time that moves only when the test says so. `advance` returns once the refresher's timer thread
// has seen the new time and done what fell due: it waits until the thread has gone back to sleep
// twice (once may be a sleep decided on the old time).
class ManualClock final : public IndexRefresher::Clock {
 public:
  IndexRefresher::TimePoint now() const override {
    std::lock_guard lock(m_mutex);
    return m_now;
  }
  void waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wakeup,
                 std::optional<IndexRefresher::TimePoint>) override {
    {
      std::lock_guard own(m_mutex);
      ++m_sleeps;
    }
    m_slept.notify_all();
    wakeup.wait_for(lock, 2ms);  // real time: lets the thread see a later `advance`
  }
  void advance(IndexRefresher::Duration by) {
    std::unique_lock lock(m_mutex);
    m_now += by;
    const auto target = m_sleeps + 2;
    ASSERT_TRUE(m_slept.wait_for(lock, 30s, [&] { return m_sleeps >= target; }))
        << "the refresher's timer thread is stuck";
  }

 private:
  mutable std::mutex m_mutex;
  std::condition_variable m_slept;
  IndexRefresher::TimePoint m_now{};
  uint64_t m_sleeps = 0;
};

// Watchers the test fires by hand; a record outlives its watcher so the test can see its end.
struct FakeWatcher final : DirectoryWatcher {
  struct Record {
    std::vector<fs::path> paths;
    OnChange onChange;
    bool running = false;
    bool destroyed = false;
  };
  explicit FakeWatcher(std::shared_ptr<Record> record) : record(std::move(record)) {}
  ~FakeWatcher() override { record->destroyed = true; }
  void start() override { record->running = true; }
  void stop() override { record->running = false; }
  std::shared_ptr<Record> record;
};

// A refresher on a manual clock whose rebuilds are counted and stamped with the clock's time.
struct Harness {
  explicit Harness(IndexRefresher::Duration debounce = 1s, IndexRefresher::Duration period = 1h,
                   DirectoryWatcherFactory factory = {}) {
    if (!factory)
      factory = [this](std::vector<fs::path> paths, std::chrono::milliseconds,
                       DirectoryWatcher::OnChange onChange) {
        auto record = std::make_shared<FakeWatcher::Record>();
        record->paths = std::move(paths);
        record->onChange = std::move(onChange);
        watchers.push_back(record);
        return std::make_unique<FakeWatcher>(record);
      };
    refresher = std::make_unique<IndexRefresher>(
        debounce, period,
        [this] {
          if (failNextBuild.exchange(false)) throw std::runtime_error("database vanished");
          SignalIndex index = SignalIndex::empty();
          index.builtAt =
              Date{std::chrono::duration<double>(clock->now().time_since_epoch()).count()};
          return index;
        },
        [this](std::shared_ptr<const SignalIndex> index) {
          std::lock_guard lock(mutex);
          builtAt.push_back(index->builtAt.secondsSince1970);
        },
        IndexRefresher::Options{clock, factory, 100ms});
  }
  size_t rebuilds() { return times().size(); }
  std::vector<double> times() {
    std::lock_guard lock(mutex);
    return builtAt;
  }

  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
  std::vector<std::shared_ptr<FakeWatcher::Record>> watchers;
  std::mutex mutex;
  std::vector<double> builtAt;  // seconds on the manual clock
  std::atomic<bool> failNextBuild = false;
  std::unique_ptr<IndexRefresher> refresher;
};

TEST(IndexRefresher, TenChangesInsideTheDebounceGiveOneRebuildDebounceAfterTheLast) {
  TemporaryDirectory folder;
  Harness h(1s);
  h.refresher->start({folder.path()});
  ASSERT_EQ(h.watchers.size(), 1u);
  for (int change = 0; change < 10; ++change) {
    h.watchers[0]->onChange();  // as the watcher's thread would
    h.clock->advance(500ms);
  }
  EXPECT_EQ(h.rebuilds(), 0u) << "rebuilt before the burst went quiet";
  h.clock->advance(499ms);  // 999 ms after the last change
  EXPECT_EQ(h.rebuilds(), 0u);
  h.clock->advance(1ms);
  h.clock->advance(1h - 5500ms);  // up to the period: no second rebuild from the burst
  const auto times = h.times();
  ASSERT_EQ(times.size(), 2u);
  EXPECT_DOUBLE_EQ(times[0], 5.5) << "the debounced rebuild, one second after the tenth change";
  EXPECT_DOUBLE_EQ(times[1], 3600) << "the periodic one";
}

TEST(IndexRefresher, StopDuringTheWaitPreventsTheRebuildAndEndsTheWatcher) {
  TemporaryDirectory folder;
  Harness h(1s, 10s);
  h.refresher->start({folder.path()});
  h.refresher->poke();
  h.clock->advance(500ms);
  h.refresher->stop();
  EXPECT_FALSE(h.refresher->isWatching());
  EXPECT_TRUE(h.watchers[0]->destroyed);
  h.clock->advance(1min);
  EXPECT_EQ(h.rebuilds(), 0u);

  // Poking a stopped refresher still rebuilds (an owner that replaced the catalog), once.
  h.refresher->poke();
  h.clock->advance(1s);
  h.clock->advance(1min);
  EXPECT_EQ(h.rebuilds(), 1u);
}

TEST(IndexRefresher, MissingFoldersGiveNoWatcherButThePeriodicRebuildRunsEvenPastAFailure) {
  TemporaryDirectory folder;
  Harness h(1s, 10s);
  h.refresher->start({folder.path() / "absent", folder.path() / "also-absent"});
  EXPECT_TRUE(h.watchers.empty());
  EXPECT_FALSE(h.refresher->isWatching());
  h.clock->advance(9s);
  EXPECT_EQ(h.rebuilds(), 0u) << "nothing rebuilds on start itself";
  h.clock->advance(1s);
  h.failNextBuild = true;  // delivers nothing, and must not end the timer thread
  h.clock->advance(10s);
  h.clock->advance(10s);
  EXPECT_EQ(h.times(), (std::vector<double>{10, 30}));
}

TEST(IndexRefresher, ASecondStartReplacesTheWatcherAndRestartsThePeriod) {
  TemporaryDirectory folder;
  fs::create_directories(folder.path() / "a");
  fs::create_directories(folder.path() / "b");
  Harness h(1s, 10s);
  h.refresher->start({folder.path() / "a"});
  h.clock->advance(6s);
  h.refresher->start({folder.path() / "b", folder.path() / "absent"});
  ASSERT_EQ(h.watchers.size(), 2u);
  EXPECT_TRUE(h.watchers[0]->destroyed) << "the first watcher still runs";
  EXPECT_EQ(h.watchers[1]->paths, (std::vector<fs::path>{folder.path() / "b"}));
  EXPECT_TRUE(h.watchers[1]->running);

  h.clock->advance(5s);  // past the first start's period, short of the second's
  EXPECT_EQ(h.rebuilds(), 0u) << "the first start's periodic timer survived";
  h.watchers[1]->onChange();
  h.clock->advance(1s);
  h.clock->advance(4s);
  EXPECT_EQ(h.times(), (std::vector<double>{12, 16}));
}

TEST(IndexRefresher, DestructionWaitsForARunningRebuild) {
  std::atomic<bool> building = false;
  std::atomic<bool> release = false;
  std::atomic<bool> destroyed = false;
  auto sinkCalls = std::make_shared<std::atomic<int>>(0);
  auto refresher = std::make_unique<IndexRefresher>(
      1ms, 1h,
      [&] {
        building = true;
        while (!release) std::this_thread::sleep_for(1ms);
        return SignalIndex::empty();
      },
      [sinkCalls](std::shared_ptr<const SignalIndex>) { ++*sinkCalls; });
  refresher->poke();
  while (!building) std::this_thread::sleep_for(1ms);
  std::thread destroyer([&] {
    refresher.reset();
    destroyed = true;
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(destroyed) << "the refresher was gone while its rebuild ran";
  release = true;
  destroyer.join();
  EXPECT_EQ(*sinkCalls, 1);
}

// The real inotify watcher: a write, then a write into a folder made after the start, each seen;
// the refresher turns them into exactly one rebuild per quiet period.
TEST(IndexRefresher, RebuildsOnRealFileChangesIncludingNewSubfolders) {
  TemporaryDirectory folder;
  std::mutex mutex;
  std::condition_variable changed;
  int changes = 0;
  auto waitForChanges = [&](int count) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, 30s, [&] { return changes >= count; });
  };
  Harness h(1s, 1h,
            [&](std::vector<fs::path> paths, std::chrono::milliseconds latency,
                DirectoryWatcher::OnChange onChange) {
              return DirectoryWatcher::create(std::move(paths), latency, [&, onChange] {
                onChange();  // first: once counted, the rebuild is scheduled
                {
                  std::lock_guard lock(mutex);
                  ++changes;
                }
                changed.notify_all();
              });
            });
  h.refresher->start({folder.path()});
  ASSERT_TRUE(h.refresher->isWatching());

  folder.write("History", "visited");
  ASSERT_TRUE(waitForChanges(1)) << "the write was not reported";
  h.clock->advance(1s);
  EXPECT_EQ(h.rebuilds(), 1u);

  fs::create_directories(folder.path() / "Profile 2");
  ASSERT_TRUE(waitForChanges(2)) << "the new folder was not reported";
  folder.write("Profile 2/Cookies", "signed in");
  ASSERT_TRUE(waitForChanges(3)) << "a write into the new folder was not reported";
  h.clock->advance(1s);
  h.clock->advance(1min);
  EXPECT_EQ(h.rebuilds(), 2u);

  // Building the index reads the watched databases; reading must not count as a change, or every
  // rebuild would schedule the next. Nor may a stopped watcher report.
  auto changesAfterAWhile = [&] {
    std::this_thread::sleep_for(500ms);  // five latencies
    std::lock_guard lock(mutex);
    return changes;
  };
  const int settled = changesAfterAWhile();
  for (const char* name : {"History", "Profile 2/Cookies"}) {
    std::ifstream in(folder.path() / name);
    std::string content;
    std::getline(in, content);
    EXPECT_FALSE(content.empty());
  }
  EXPECT_EQ(changesAfterAWhile(), settled) << "reading a watched file was reported";
  h.refresher->stop();
  folder.write("Profile 2/Cookies", "signed out");
  EXPECT_EQ(changesAfterAWhile(), settled) << "a stopped watcher reported";
}

}  // namespace
}  // namespace linkferry
