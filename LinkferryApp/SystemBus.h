#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sd_bus;
struct sd_bus_message;

namespace linkferry {

// Property reads over the D-Bus system bus (sd-bus) under one deadline for everything, the
// connection included: a bus or service that is slow or silent costs at most the time left, and
// what did not answer by then is simply missing. For one thread at a time.
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

  // Connects to the bus DBUS_SYSTEM_BUS_ADDRESS of `environment` names, else the standard system
  // bus socket. Never blocks: the handshake goes on while the first reads wait.
  SystemBus(const std::map<std::string, std::string>& environment,
            std::chrono::steady_clock::time_point deadline);
  ~SystemBus();
  SystemBus(const SystemBus&) = delete;
  SystemBus& operator=(const SystemBus&) = delete;

  // Sends every read at once and waits for the answers until the deadline; one value per
  // property, in order.
  std::vector<Value> read(const std::vector<Property>& properties);

 private:
  sd_bus* m_bus = nullptr;
  std::chrono::steady_clock::time_point m_deadline;
};

}  // namespace linkferry
