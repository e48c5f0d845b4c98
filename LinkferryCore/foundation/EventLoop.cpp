#include "foundation/EventLoop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

namespace linkferry {

EventLoop::EventLoop() : m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (m_wake < 0) throw std::runtime_error(std::string("eventfd: ") + std::strerror(errno));
}

EventLoop::~EventLoop() {
  ::close(m_wake);
}

EventLoop::Token EventLoop::schedule(std::chrono::milliseconds delay, std::function<void()> action) {
  const Token token = m_next++;
  m_timers.emplace(token, Timer{Clock::now() + delay, std::move(action)});
  return token;
}

void EventLoop::cancel(Token token) {
  m_timers.erase(token);
}

void EventLoop::post(std::function<void()> task) {
  {
    std::lock_guard lock(m_mutex);
    m_posted.push_back(std::move(task));
  }
  wake();
}

void EventLoop::terminate() {
  m_running = false;
  wake();
}

void EventLoop::wake() {
  // An eventfd write fails only when its counter would pass 2^64 - 2, which wake-ups that the
  // loop reads back cannot reach; nothing is lost by not looking at the result. (A plain
  // (void) cast does not quiet glibc's warn_unused_result under _FORTIFY_SOURCE.)
  const std::uint64_t one = 1;
  if (::write(m_wake, &one, sizeof(one)) < 0) return;
}

void EventLoop::watch(int descriptor, Clock::time_point deadline,
                     std::function<void(bool)> action) {
  m_watches.push_back({descriptor, deadline, std::move(action)});
}

void EventLoop::unwatch(int descriptor) {
  std::erase_if(m_watches,
                [descriptor](const Watch& watch) { return watch.descriptor == descriptor; });
}

void EventLoop::run(int listener, const std::function<void(int)>& accept) {
  std::vector<pollfd> entries;
  while (m_running) {
    auto due = Clock::time_point::max();
    for (const auto& [token, timer] : m_timers) due = std::min(due, timer.due);
    for (const auto& watch : m_watches) due = std::min(due, watch.deadline);
    int timeout = -1;
    if (due != Clock::time_point::max()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now());
      timeout = static_cast<int>(std::clamp<long long>(left.count(), 0, 86'400'000) + 1);
    }
    const bool accepting = m_watches.size() < m_acceptLimit;
    entries.assign({{m_wake, POLLIN, 0}, {accepting ? listener : -1, POLLIN, 0}});
    for (const auto& watch : m_watches) entries.push_back({watch.descriptor, POLLIN, 0});
    const int ready = ::poll(entries.data(), entries.size(), timeout);
    if (ready < 0 && errno != EINTR) throw std::runtime_error(std::strerror(errno));

    // The watches that fired leave the list before any action runs, since an action may add one.
    std::vector<std::pair<std::function<void(bool)>, bool>> fired;
    std::vector<Watch> waiting;
    const auto now = Clock::now();
    for (std::size_t i = 0; i < m_watches.size(); ++i) {
      const bool readable = ready > 0 && entries[i + 2].revents != 0;
      if (readable || m_watches[i].deadline <= now) {
        fired.emplace_back(std::move(m_watches[i].action), readable);
      } else {
        waiting.push_back(std::move(m_watches[i]));
      }
    }
    m_watches = std::move(waiting);
    for (auto& [action, readable] : fired) action(readable);

    if (ready > 0 && (entries[0].revents & POLLIN)) {
      std::uint64_t count = 0;
      // Only empties the counter: every posted task is taken below whatever it held.
      if (::read(m_wake, &count, sizeof(count)) < 0) count = 0;
      std::vector<std::function<void()>> tasks;
      {
        std::lock_guard lock(m_mutex);
        tasks.swap(m_posted);
      }
      for (auto& task : tasks) task();
    }
    if (ready > 0 && (entries[1].revents & POLLIN)) {
      while (m_running && m_watches.size() < m_acceptLimit) {
        const int connection =
            ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (connection < 0) break;
        accept(connection);
      }
    }
    // Timers that are due, earliest first; an action may schedule or cancel others.
    while (m_running) {
      auto next = m_timers.end();
      for (auto it = m_timers.begin(); it != m_timers.end(); ++it) {
        if (it->second.due <= Clock::now() &&
            (next == m_timers.end() || it->second.due < next->second.due)) {
          next = it;
        }
      }
      if (next == m_timers.end()) break;
      auto action = std::move(next->second.action);
      m_timers.erase(next);
      action();
    }
  }
}

}  // namespace linkferry
