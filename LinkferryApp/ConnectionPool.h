#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>

namespace linkferry {

// Connections kept open between uses, each under the key of what it reaches (a display and its
// credentials, a bus address), so that a long-lived process connects once rather than on every
// use. A connection is taken out while in use, so it serves one thread at a time and threads at
// once get connections of their own; at most `capacity` idle ones are kept (the oldest closes
// first), and a pool of capacity zero keeps none. Safe from any thread.
//
// `Connection` has `bool usable()`: false once it has failed (its peer went away), checked without
// waiting. An idle connection found unusable is closed rather than handed out; one that failed in
// use is closed when its lease ends.
template <typename Connection>
class ConnectionPool {
 public:
  // One connection in use: back to its pool when the lease ends, unless dropped or unusable.
  class Lease {
   public:
    Lease() = default;
    Lease(Lease&&) noexcept = default;
    Lease& operator=(Lease&&) noexcept = default;
    ~Lease() {
      if (m_pool && m_connection && m_connection->usable()) {
        m_pool->give(std::move(m_key), std::move(m_connection));
      }
    }

    explicit operator bool() const { return m_connection != nullptr; }
    Connection& operator*() const { return *m_connection; }
    Connection* operator->() const { return m_connection.get(); }
    // Whether the connection was kept from an earlier use (and may have failed since unnoticed).
    bool reused() const { return m_reused; }
    // Closes the connection instead of keeping it (it failed, or is in a state of no more use).
    void drop() { m_connection.reset(); }

   private:
    friend class ConnectionPool;
    ConnectionPool* m_pool = nullptr;
    std::string m_key;
    std::unique_ptr<Connection> m_connection;
    bool m_reused = false;
  };

  explicit ConnectionPool(std::size_t capacity) : m_capacity(capacity) {}
  // `pool`, or when there is none one that keeps nothing (every use connects afresh).
  static std::shared_ptr<ConnectionPool> orNone(std::shared_ptr<ConnectionPool> pool) {
    return pool ? std::move(pool) : std::make_shared<ConnectionPool>(0);
  }
  ConnectionPool(const ConnectionPool&) = delete;
  ConnectionPool& operator=(const ConnectionPool&) = delete;

  // A usable idle connection kept under `key`, else the one `connect()` makes (a
  // std::unique_ptr<Connection>, empty when it cannot connect: so is the lease then).
  template <typename Connect>
  Lease lease(const std::string& key, Connect&& connect) {
    Lease lease;
    lease.m_pool = this;
    lease.m_key = key;
    while (auto idle = take(key)) {
      // Checked outside the lock, and one that failed is closed there too: closing may wait.
      if (idle->usable()) {
        lease.m_connection = std::move(idle);
        lease.m_reused = true;
        return lease;
      }
    }
    lease.m_connection = connect();
    return lease;
  }

  // `use(connection)` on a leased connection, or nothing ({}) when none can be made. When a kept
  // connection gives nothing and turns out dead (its peer went away since its last use), the same
  // once more on a new one while `deadline` has not passed, so that a restarted peer costs no
  // answer.
  template <typename Connect, typename Use>
  std::invoke_result_t<Use&, Connection&> withConnection(
      const std::string& key, Connect&& connect, Use&& use,
      std::chrono::steady_clock::time_point deadline) {
    using Result = std::invoke_result_t<Use&, Connection&>;
    for (;;) {
      Lease connection = lease(key, connect);
      if (!connection) return Result{};
      Result result = use(*connection);
      if (result != Result{} || !connection.reused() || connection->usable() ||
          std::chrono::steady_clock::now() >= deadline) {
        return result;
      }
      connection.drop();
    }
  }

 private:
  std::unique_ptr<Connection> take(const std::string& key) {
    std::lock_guard lock(m_mutex);
    for (auto it = m_idle.begin(); it != m_idle.end(); ++it) {
      if (it->first == key) {
        std::unique_ptr<Connection> connection = std::move(it->second);
        m_idle.erase(it);
        return connection;
      }
    }
    return nullptr;
  }

  void give(std::string key, std::unique_ptr<Connection> connection) {
    std::unique_ptr<Connection> oldest;
    {
      std::lock_guard lock(m_mutex);
      if (m_capacity == 0) {
        oldest = std::move(connection);
      } else {
        m_idle.emplace_back(std::move(key), std::move(connection));
        if (m_idle.size() > m_capacity) {
          oldest = std::move(m_idle.front().second);
          m_idle.pop_front();
        }
      }
    }
  }

  const std::size_t m_capacity;
  std::mutex m_mutex;
  std::deque<std::pair<std::string, std::unique_ptr<Connection>>> m_idle;
};

}  // namespace linkferry
