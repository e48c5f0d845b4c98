#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ConnectionPool.h"

struct xcb_connection_t;

namespace linkferry {

// The window that has the user's attention on the display a link was clicked on: where the click
// came from, and the application in front.
struct ActiveWindow {
  // Its title as UTF-8 (invalid bytes repaired); absent when the window has none.
  std::optional<std::string> title;
  // The process that owns it, as the window says; absent when it says nothing.
  std::optional<int> pid;
  // Its WM_CLASS: the instance name, then the class name; empty when unset.
  std::vector<std::string> windowClass;
  bool operator==(const ActiveWindow&) const = default;
};

// Names the active window; nothing when unknown (never a guess). Implementations may be called
// from any thread.
class ActiveWindowSource {
 public:
  virtual ~ActiveWindowSource() = default;
  virtual std::optional<ActiveWindow> activeWindow() const = 0;
};

// An open connection to an X11 display, as X11ActiveWindowSource keeps it between reads. For one
// thread at a time.
class X11Connection {
 public:
  using Clock = std::chrono::steady_clock;

  // Takes `connection` over; it closes with this.
  explicit X11Connection(xcb_connection_t* connection) noexcept : m_connection(connection) {}
  ~X11Connection();
  X11Connection(const X11Connection&) = delete;
  X11Connection& operator=(const X11Connection&) = delete;

  // False once the display has gone away (or shut the connection) or a reply came too late, so
  // that answers to old requests could still arrive. Never waits.
  bool usable();

  xcb_connection_t* get() const { return m_connection; }
  // Sends what is queued and waits for the reply to request `sequence` until `deadline` (xcb
  // alone would wait without a limit). Null when the request failed (a window gone), the display
  // went away, or the deadline passed first (the connection is then of no more use). The reply is
  // the caller's, for std::free.
  void* reply(unsigned int sequence, Clock::time_point deadline);

  // Atoms interned once per connection (they live as long as the server), zero until known.
  std::array<std::uint32_t, 4> atoms{};

 private:
  xcb_connection_t* m_connection;
  bool m_late = false;
};

// X11 connections kept between reads, by display and credentials.
using X11Connections = ConnectionPool<X11Connection>;

// The active window of an X11 display, as an EWMH window manager announces it: the root window's
// _NET_ACTIVE_WINDOW, then that window's _NET_WM_NAME (UTF-8; WM_NAME when it has none),
// _NET_WM_PID and WM_CLASS.
//
// The display is the one `environment` names (DISPLAY, with XAUTHORITY or $HOME/.Xauthority for
// the cookie), so a long-lived process can read the display of each click's own session. Local
// displays (":0", "unix:0") and TCP displays on "localhost" or a numeric address are reached;
// other host names are not resolved (a name lookup could block) and give nothing.
//
// Nothing on Wayland (XDG_SESSION_TYPE "wayland" or WAYLAND_DISPLAY set): Xwayland's active window
// speaks only for X11 clients and would name a window that is not in front. Nothing without
// DISPLAY, for a display that refuses us, and when no window manager announces an active window.
// Everything, connecting included, is bounded by `limit`: a display that does not answer in time
// gives nothing and leaves nothing behind (the connection is shut down, no thread outlives the
// call).
//
// The connection is taken from `connections` and given back for the next read: a long-lived
// process passes one pool to the sources of all its clicks. A connection is reused only for the
// same display and the same cookie (read from the authority file on every call); one found dead
// (the X server restarted) is replaced within the same call. Without a pool every call connects
// afresh.
class X11ActiveWindowSource final : public ActiveWindowSource {
 public:
  static constexpr std::chrono::milliseconds kDefaultLimit{50};

  X11ActiveWindowSource(std::map<std::string, std::string> environment, std::filesystem::path home,
                        std::chrono::steady_clock::duration limit = kDefaultLimit,
                        std::shared_ptr<X11Connections> connections = nullptr);

  std::optional<ActiveWindow> activeWindow() const override;

 private:
  std::map<std::string, std::string> m_environment;
  std::filesystem::path m_home;
  std::chrono::steady_clock::duration m_limit;
  std::shared_ptr<X11Connections> m_connections;
};

}  // namespace linkferry
