#include "foundation/Timeout.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace linkferry {
namespace {

using namespace std::chrono_literals;

TEST(Timeout, ReturnsTheResultOfAFastOperation) {
  auto result = withTimeout<int>(2s, [] { return 42; });
  EXPECT_EQ(result, 42);
}

// The operation runs until the test lets it go, which it does only once the call has returned:
// a call that waited for the loser would wait out the operation's own 30-second safety net.
TEST(Timeout, GivesNothingWhenTheLimitPassesFirst) {
  struct Gate {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
    bool waitedOut = false;
  };
  auto gate = std::make_shared<Gate>();
  auto result = withTimeout<int>(50ms, [gate] {
    std::unique_lock lock(gate->mutex);
    gate->waitedOut = !gate->opened.wait_for(lock, 30s, [&] { return gate->open; });
    return 1;
  });
  EXPECT_EQ(result, std::nullopt);
  std::lock_guard lock(gate->mutex);
  EXPECT_FALSE(gate->waitedOut) << "the call waited for the operation it gave up on";
  gate->open = true;
  gate->opened.notify_all();
}

TEST(Timeout, AFailingOperationGivesNothing) {
  auto result = withTimeout<int>(1s, []() -> int { throw std::runtime_error("boom"); });
  EXPECT_EQ(result, std::nullopt);
}

// The operation outlives the call and keeps using state it owns; its late result must be dropped
// without touching the caller's (long gone) frame. AddressSanitizer would flag a use after return.
TEST(Timeout, TheLoserKeepsRunningOnItsOwnStateAndItsResultIsDropped) {
  auto progress = std::make_shared<std::atomic<int>>(0);
  {
    auto owned = std::make_shared<std::vector<std::string>>();
    auto result = withTimeout<std::string>(20ms, [owned, progress] {
      for (int i = 0; i < 20; ++i) {
        owned->push_back(std::string(100, 'x'));
        progress->fetch_add(1);
        std::this_thread::sleep_for(5ms);
      }
      return std::string("late");
    });
    EXPECT_EQ(result, std::nullopt);
  }
  auto deadline = std::chrono::steady_clock::now() + 5s;
  while (progress->load() < 20 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_EQ(progress->load(), 20);
  std::this_thread::sleep_for(20ms);  // let it deliver its late result into the dropped race
}

// Callers on several threads at once, each sleeping on its own result: every one is woken with
// its own (a lost wake-up would wait out the generous limit and give nothing).
TEST(Timeout, CallersOnSeveralThreadsEachGetTheirOwnResult) {
  std::vector<std::thread> callers;
  std::vector<int> wrong(4, 0);
  for (int caller = 0; caller < 4; ++caller) {
    callers.emplace_back([caller, &wrong] {
      for (int i = 0; i < 500; ++i) {
        const int expected = caller * 1000 + i;
        if (withTimeout<int>(60s, [expected] { return expected; }) != expected) ++wrong[caller];
      }
    });
  }
  for (std::thread& caller : callers) caller.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

// Operations that overran hold their workers; a later operation must still get a worker of its
// own at once rather than queue behind them.
TEST(Timeout, OverrunningOperationsNeverHoldUpTheNextOne) {
  struct Gate {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
  };
  auto gate = std::make_shared<Gate>();
  auto blocked = [gate] {
    std::unique_lock lock(gate->mutex);
    gate->opened.wait(lock, [&] { return gate->open; });
    return 0;
  };
  for (int i = 0; i < 8; ++i) EXPECT_EQ(withTimeout<int>(1ms, blocked), std::nullopt);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(withTimeout<int>(60s, [] { return 7; }), 7);
  std::lock_guard lock(gate->mutex);
  gate->open = true;
  gate->opened.notify_all();
}

}  // namespace
}  // namespace linkferry
