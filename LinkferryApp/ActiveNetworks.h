#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "SystemBus.h"

namespace linkferry {

// Names the networks the machine is connected to, for `network` rules; empty when none or
// unknown. Implementations may be called from any thread.
class NetworkSource {
 public:
  virtual ~NetworkSource() = default;
  virtual std::set<std::string> activeNetworks() const = 0;
};

// The networks NetworkManager has activated, read over the system bus: for Wi-Fi the network's
// name (its SSID, when that is text; else the connection's name), for every other kind the
// connection's name ("Wired connection 1", a VPN's name). Connections still activating and the
// loopback connection are left out. Empty without NetworkManager or when it does not answer
// within `limit` (everything included). The bus connection comes from `connections` and goes back
// there (without: a new one for every call).
class NetworkManagerNetworks final : public NetworkSource {
 public:
  static constexpr std::chrono::milliseconds kDefaultLimit{25};

  explicit NetworkManagerNetworks(std::map<std::string, std::string> environment,
                                  std::chrono::steady_clock::duration limit = kDefaultLimit,
                                  std::shared_ptr<SystemBusConnections> connections = nullptr);
  std::set<std::string> activeNetworks() const override;

 private:
  std::map<std::string, std::string> m_environment;
  std::chrono::steady_clock::duration m_limit;
  std::shared_ptr<SystemBusConnections> m_connections;
};

}  // namespace linkferry
