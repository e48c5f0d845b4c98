#include "ActiveNetworks.h"

#include <optional>
#include <vector>

#include "SystemBus.h"
#include "foundation/Text.h"

namespace linkferry {
namespace {

constexpr const char* kService = "org.freedesktop.NetworkManager";
constexpr const char* kActive = "org.freedesktop.NetworkManager.Connection.Active";
// NM_ACTIVE_CONNECTION_STATE_ACTIVATED.
constexpr std::uint32_t kActivated = 2;
constexpr std::size_t kFieldsPerConnection = 4;

// The names of the activated connections, read on `bus`.
std::set<std::string> activatedNetworks(SystemBus& bus,
                                        std::chrono::steady_clock::time_point deadline) {
  const auto connections =
      bus.read({{kService, "/org/freedesktop/NetworkManager", kService, "ActiveConnections"}},
               deadline)
          .front()
          .objectPaths();
  if (!connections) return {};

  std::vector<SystemBus::Property> fields;
  for (const std::string& path : *connections) {
    for (const char* name : {"State", "Type", "Id", "SpecificObject"}) {
      fields.push_back({kService, path, kActive, name});
    }
  }
  const std::vector<SystemBus::Value> values = bus.read(fields, deadline);

  // Activated connections by name; Wi-Fi ones also by their access point, whose SSID is read next.
  std::vector<std::string> names;
  std::vector<std::pair<std::size_t, std::string>> wireless;  // index in names, access point
  for (std::size_t i = 0; i + kFieldsPerConnection <= values.size(); i += kFieldsPerConnection) {
    const auto state = values[i].unsignedInteger();
    const auto type = values[i + 1].text();
    const auto id = values[i + 2].text();
    if (state != kActivated || !type || !id || *type == "loopback") continue;
    names.push_back(*id);
    const auto accessPoint = values[i + 3].text();
    if (*type == "802-11-wireless" && accessPoint && *accessPoint != "/") {
      wireless.emplace_back(names.size() - 1, *accessPoint);
    }
  }
  std::vector<SystemBus::Property> ssids;
  for (const auto& [index, accessPoint] : wireless) {
    ssids.push_back({kService, accessPoint, "org.freedesktop.NetworkManager.AccessPoint", "Ssid"});
  }
  const std::vector<SystemBus::Value> ssidValues = bus.read(ssids, deadline);
  for (std::size_t i = 0; i < wireless.size(); ++i) {
    // An SSID is any 32 bytes; one that is not text keeps the connection's name, which is.
    const auto ssid = ssidValues[i].bytes();
    if (ssid && !ssid->empty() && Text::isValidUTF8(*ssid)) names[wireless[i].first] = *ssid;
  }
  return {names.begin(), names.end()};
}

}  // namespace

NetworkManagerNetworks::NetworkManagerNetworks(std::map<std::string, std::string> environment,
                                               std::chrono::steady_clock::duration limit,
                                               std::shared_ptr<SystemBusConnections> connections)
    : m_environment(std::move(environment)),
      m_limit(limit),
      m_connections(SystemBusConnections::orNone(std::move(connections))) {}

std::set<std::string> NetworkManagerNetworks::activeNetworks() const {
  const auto deadline = std::chrono::steady_clock::now() + m_limit;
  return readSystemBus(*m_connections, m_environment, deadline,
                       [deadline](SystemBus& bus) { return activatedNetworks(bus, deadline); });
}

}  // namespace linkferry
