#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ConnectionPool.h"

struct sd_bus;
struct sd_bus_message;

namespace linkferry {

// Property reads over the D-Bus system bus (sd-bus), each batch under a deadline, connecting
// included: a bus or service that is slow or silent costs at most the time left, and what did not
// answer by then is simply missing. For one thread at a time; a long-lived process keeps
// connections between reads in a SystemBusConnections.
class SystemBus {
 public:
  // One property to read: `name` of `interface` on object `path` of `service`.
  struct Property {
    std::string service;
    std::string path;
    std::string interface;
    std::string name;
  };

  // The value of one property as it came back; every accessor gives nothing when the read failed
  // or the value has another D-Bus type.
  class Value {
   public:
    Value() = default;
    explicit Value(sd_bus_message* reply);  // takes a reference of its own
    bool present() const { return m_reply != nullptr; }
    std::optional<bool> boolean() const;                          // "b"
    std::optional<std::uint32_t> unsignedInteger() const;         // "u"
    std::optional<std::string> text() const;                      // "s" or "o"
    std::optional<std::vector<std::string>> objectPaths() const;  // "ao"
    std::optional<std::string> bytes() const;                     // "ay"

   private:
    std::shared_ptr<sd_bus_message> m_reply;
  };

  // The bus DBUS_SYSTEM_BUS_ADDRESS of `environment` names, else the standard system bus socket.
  static std::string addressFor(const std::map<std::string, std::string>& environment);

  // Connects to the bus at `address`; nothing when that fails at once (no such socket). Never
  // blocks: the handshake goes on while the first reads wait.
  static std::unique_ptr<SystemBus> connect(const std::string& address);
  ~SystemBus();
  SystemBus(const SystemBus&) = delete;
  SystemBus& operator=(const SystemBus&) = delete;

  // Sends every read at once and waits for the answers until `deadline`; one value per property,
  // in order.
  std::vector<Value> read(const std::vector<Property>& properties,
                          std::chrono::steady_clock::time_point deadline);

  // False once the bus has closed the connection, or a read ran out of time (a bus that kept us
  // waiting once is not trusted with the next click). Never waits.
  bool usable();

 private:
  explicit SystemBus(sd_bus* bus) : m_bus(bus) {}

  sd_bus* m_bus;
  bool m_late = false;
};

// System bus connections kept between reads, by address.
using SystemBusConnections = ConnectionPool<SystemBus>;

// `read(bus)` on a connection to the bus of `environment` from `connections` (a kept one when
// there is; see ConnectionPool::withConnection); nothing ({}) when the bus cannot be reached.
template <typename Read>
auto readSystemBus(SystemBusConnections& connections,
                   const std::map<std::string, std::string>& environment,
                   std::chrono::steady_clock::time_point deadline, Read&& read) {
  const std::string address = SystemBus::addressFor(environment);
  return connections.withConnection(
      address, [&address] { return SystemBus::connect(address); }, read, deadline);
}

}  // namespace linkferry
