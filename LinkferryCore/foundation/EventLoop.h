#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

namespace linkferry {

// A single-threaded loop for a socket server: timers, tasks posted from other threads, readable
// descriptors with deadlines, and a listening socket. Everything but `post` and `terminate` is
// called on the loop's own thread (inside an action, or before `run`). No action ever waits for a
// descriptor, so a silent peer delays nobody.
class EventLoop {
 public:
  using Token = std::uint64_t;
  using Clock = std::chrono::steady_clock;

  EventLoop();
  virtual ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // Runs `action` once on the loop after `delay`; the token cancels it.
  Token schedule(std::chrono::milliseconds delay, std::function<void()> action);
  // Cancels a scheduled action that has not run yet; unknown tokens are ignored.
  void cancel(Token token);
  // Runs `task` on the loop as soon as it is free. Safe from any thread.
  void post(std::function<void()> task);
  // Ends `run` after the current round. Safe from any thread.
  void terminate();

  // Calls `action` once on the loop: with true when `descriptor` is readable (or closed by its
  // peer), with false at `deadline`. The action may watch the descriptor again.
  void watch(int descriptor, Clock::time_point deadline, std::function<void(bool readable)> action);
  // Forgets the watch of `descriptor` without calling its action (before the descriptor is
  // closed); a descriptor not watched is ignored.
  void unwatch(int descriptor);
  // How many descriptors are watched now.
  std::size_t watched() const { return m_watches.size(); }

  // Serves `listener` (a listening socket; -1 for none), handing each accepted connection
  // (non-blocking, close-on-exec) to `accept`, until terminate() is called. While the accept
  // limit's number of descriptors is watched no further connection is accepted; they wait in the
  // listen queue.
  void run(int listener, const std::function<void(int connection)>& accept);
  static constexpr std::size_t kMaxWatched = 256;
  // The accept limit, kMaxWatched unless changed. A server that enforces limits of its own (and
  // closes connections to keep them) accepts every connection at once with SIZE_MAX.
  void limitAccepting(std::size_t watched) { m_acceptLimit = watched; }

 private:
  // Makes a waiting run() look at the posted tasks and the running flag.
  void wake();
  struct Timer {
    Clock::time_point due;
    std::function<void()> action;
  };
  struct Watch {
    int descriptor;
    Clock::time_point deadline;
    std::function<void(bool)> action;
  };
  std::map<Token, Timer> m_timers;
  std::vector<Watch> m_watches;
  Token m_next = 1;
  std::size_t m_acceptLimit = kMaxWatched;
  std::mutex m_mutex;  // guards m_posted
  std::vector<std::function<void()>> m_posted;
  int m_wake = -1;  // eventfd
  std::atomic<bool> m_running{true};
};

}  // namespace linkferry
