#include "signals/IndexRefresher.h"

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <optional>
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
  // The rebuild, once running, waits until the destruction has begun and then notes whether the
  // refresher is already gone: a destructor that does not wait for it finishes first.
  std::mutex mutex;
  std::condition_variable changed;
  bool building = false, destroying = false, destroyed = false;
  std::optional<bool> goneWhileBuilding;
  auto sinkCalls = std::make_shared<std::atomic<int>>(0);
  auto refresher = std::make_unique<IndexRefresher>(
      1ms, 1h,
      [&] {
        std::unique_lock lock(mutex);
        building = true;
        changed.notify_all();
        changed.wait(lock, [&] { return destroying; });
        lock.unlock();
        std::this_thread::yield();
        lock.lock();
        goneWhileBuilding = destroyed;
        return SignalIndex::empty();
      },
      [sinkCalls](std::shared_ptr<const SignalIndex>) { ++*sinkCalls; });
  refresher->poke();
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, 30s, [&] { return building; })) << "no rebuild started";
  }
  std::thread destroyer([&] {
    {
      std::lock_guard lock(mutex);
      destroying = true;
    }
    changed.notify_all();
    refresher.reset();
    std::lock_guard lock(mutex);
    destroyed = true;
  });
  destroyer.join();
  EXPECT_EQ(goneWhileBuilding, false) << "the refresher was gone while its rebuild ran";
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

  // A stopped watcher does not report: a second watcher on the folder sees a write after the stop,
  // so the stopped one would have had it too.
  h.refresher->stop();
  bool witnessed = false;
  auto witness = DirectoryWatcher::create({folder.path()}, 100ms, [&] {
    {
      std::lock_guard lock(mutex);
      witnessed = true;
    }
    changed.notify_all();
  });
  witness->start();
  const int stopped = [&] {
    std::lock_guard lock(mutex);
    return changes;
  }();
  folder.write("Profile 2/Cookies", "signed out");
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, 30s, [&] { return witnessed; })) << "nobody saw the write";
  }
  witness->stop();
  std::lock_guard lock(mutex);
  EXPECT_EQ(changes, stopped) << "a stopped watcher reported";
}

// Building the index reads the watched databases; reading must not count as a change, or every
// rebuild would schedule the next. The files are there before the watcher starts, so nothing
// else is on its way; a file renamed into the folder afterwards (one event, so one report) marks
// where the system has delivered what came before it.
TEST(DirectoryWatcher, ReadingAWatchedFileIsNoChange) {
  TemporaryDirectory folder;
  TemporaryDirectory outside;
  folder.write("History", "visited");
  folder.write("Profile 2/Cookies", "signed in");
  const fs::path marker = outside.write("marker", "moved in");
  std::mutex mutex;
  std::condition_variable changed;
  int changes = 0;
  auto watcher = DirectoryWatcher::create({folder.path()}, 100ms, [&] {
    {
      std::lock_guard lock(mutex);
      ++changes;
    }
    changed.notify_all();
  });
  watcher->start();
  for (const char* name : {"History", "Profile 2/Cookies"}) {
    std::ifstream in(folder.path() / name);
    std::string content;
    std::getline(in, content);
    EXPECT_FALSE(content.empty());
  }
  fs::rename(marker, folder.path() / "Profile 2" / "marker");
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, 30s, [&] { return changes >= 1; }))
        << "the renamed file was not reported";
    EXPECT_EQ(changes, 1) << "reading a watched file was reported";
  }
  watcher->stop();
}

}  // namespace
}  // namespace linkferry
