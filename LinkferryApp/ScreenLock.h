#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "SystemBus.h"

namespace linkferry {

// Tells whether the user's screen is locked; nothing when unknown (never a guess). Implementations
// may be called from any thread.
class ScreenLockSource {
 public:
  virtual ~ScreenLockSource() = default;
  virtual std::optional<bool> screenLocked() const = 0;
};

// The screen lock as logind knows it: the LockedHint of the user's session on the system bus
// (screen lockers and desktops set it). The session is XDG_SESSION_ID of `environment` (a
// long-lived process passes each click's own), else logind's "auto" session: the caller's own, or
// for a process outside any session (a user service) the user's graphical one. Nothing without
// logind, for an unknown session, or when no answer comes within `limit`.
class LogindScreenLock final : public ScreenLockSource {
 public:
  static constexpr std::chrono::milliseconds kDefaultLimit{25};

  explicit LogindScreenLock(std::map<std::string, std::string> environment,
                            std::chrono::steady_clock::duration limit = kDefaultLimit,
                            std::shared_ptr<SystemBusConnections> connections = nullptr);
  std::optional<bool> screenLocked() const override;

 private:
  std::map<std::string, std::string> m_environment;
  std::chrono::steady_clock::duration m_limit;
  std::shared_ptr<SystemBusConnections> m_connections;
};

}  // namespace linkferry
