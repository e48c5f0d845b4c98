#include "ScreenLock.h"

#include <systemd/sd-bus.h>

#include <cstdlib>

#include "SystemBus.h"

namespace linkferry {

LogindScreenLock::LogindScreenLock(std::map<std::string, std::string> environment,
                                   std::chrono::steady_clock::duration limit,
                                   std::shared_ptr<SystemBusConnections> connections)
    : m_environment(std::move(environment)),
      m_limit(limit),
      m_connections(SystemBusConnections::orNone(std::move(connections))) {}

std::optional<bool> LogindScreenLock::screenLocked() const {
  std::string path = "/org/freedesktop/login1/session/auto";
  if (const auto id = m_environment.find("XDG_SESSION_ID");
      id != m_environment.end() && !id->second.empty()) {
    // Session objects are named by the escaped id ("_32" for "2").
    char* encoded = nullptr;
    if (sd_bus_path_encode("/org/freedesktop/login1/session", id->second.c_str(), &encoded) < 0)
      return std::nullopt;
    path = encoded;
    std::free(encoded);
  }
  const auto deadline = std::chrono::steady_clock::now() + m_limit;
  return readSystemBus(*m_connections, m_environment, deadline, [&](SystemBus& bus) {
    return bus
        .read({{"org.freedesktop.login1", path, "org.freedesktop.login1.Session", "LockedHint"}},
              deadline)
        .front()
        .boolean();
  });
}

}  // namespace linkferry
