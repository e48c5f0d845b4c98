#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

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
class X11ActiveWindowSource final : public ActiveWindowSource {
 public:
  static constexpr std::chrono::milliseconds kDefaultLimit{50};

  X11ActiveWindowSource(std::map<std::string, std::string> environment, std::filesystem::path home,
                        std::chrono::steady_clock::duration limit = kDefaultLimit);

  std::optional<ActiveWindow> activeWindow() const override;

 private:
  std::map<std::string, std::string> m_environment;
  std::filesystem::path m_home;
  std::chrono::steady_clock::duration m_limit;
};

}  // namespace linkferry
