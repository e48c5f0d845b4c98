#include "SystemBus.h"

#include <systemd/sd-bus.h>

#include <cerrno>

namespace linkferry {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kDefaultAddress = "unix:path=/run/dbus/system_bus_socket";

std::uint64_t microsecondsUntil(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<std::uint64_t>(left);
}

// One read in flight: its answer, and the count of reads still waiting.
struct Pending {
  sd_bus_message* reply = nullptr;
  std::size_t* waiting = nullptr;
  sd_bus_slot* slot = nullptr;
};

int onReply(sd_bus_message* message, void* userdata, sd_bus_error*) {
  auto* pending = static_cast<Pending*>(userdata);
  if (!sd_bus_message_is_method_error(message, nullptr))
    pending->reply = sd_bus_message_ref(message);
  --*pending->waiting;
  return 0;
}

// Rewinds the reply and enters its variant when it holds `signature`.
bool enterVariant(sd_bus_message* reply, const char* signature) {
  return reply && sd_bus_message_rewind(reply, 1) >= 0 &&
         sd_bus_message_enter_container(reply, 'v', signature) > 0;
}

}  // namespace

SystemBus::Value::Value(sd_bus_message* reply)
    : m_reply(sd_bus_message_ref(reply),
              [](sd_bus_message* message) { sd_bus_message_unref(message); }) {}

std::optional<bool> SystemBus::Value::boolean() const {
  int value = 0;
  if (!enterVariant(m_reply.get(), "b") ||
      sd_bus_message_read_basic(m_reply.get(), 'b', &value) <= 0)
    return std::nullopt;
  return value != 0;
}

std::optional<std::uint32_t> SystemBus::Value::unsignedInteger() const {
  std::uint32_t value = 0;
  if (!enterVariant(m_reply.get(), "u") ||
      sd_bus_message_read_basic(m_reply.get(), 'u', &value) <= 0)
    return std::nullopt;
  return value;
}

std::optional<std::string> SystemBus::Value::text() const {
  for (char type : {'s', 'o'}) {
    const char signature[] = {type, '\0'};
    const char* value = nullptr;
    if (enterVariant(m_reply.get(), signature) &&
        sd_bus_message_read_basic(m_reply.get(), type, &value) > 0 && value) {
      return std::string(value);
    }
  }
  return std::nullopt;
}

std::optional<std::vector<std::string>> SystemBus::Value::objectPaths() const {
  sd_bus_message* reply = m_reply.get();
  if (!enterVariant(reply, "ao") || sd_bus_message_enter_container(reply, 'a', "o") <= 0)
    return std::nullopt;
  std::vector<std::string> paths;
  const char* path = nullptr;
  int read = 0;
  while ((read = sd_bus_message_read_basic(reply, 'o', &path)) > 0) paths.emplace_back(path);
  if (read < 0) return std::nullopt;
  return paths;
}

std::optional<std::string> SystemBus::Value::bytes() const {
  const void* data = nullptr;
  std::size_t size = 0;
  if (!enterVariant(m_reply.get(), "ay") ||
      sd_bus_message_read_array(m_reply.get(), 'y', &data, &size) < 0)
    return std::nullopt;
  return std::string(static_cast<const char*>(data), size);
}

std::string SystemBus::addressFor(const std::map<std::string, std::string>& environment) {
  const auto given = environment.find("DBUS_SYSTEM_BUS_ADDRESS");
  return given != environment.end() && !given->second.empty() ? given->second : kDefaultAddress;
}

std::unique_ptr<SystemBus> SystemBus::connect(const std::string& address) {
  sd_bus* bus = nullptr;
  if (sd_bus_new(&bus) < 0) return nullptr;
  if (sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0 ||
      sd_bus_start(bus) < 0) {
    sd_bus_close_unref(bus);
    return nullptr;
  }
  return std::unique_ptr<SystemBus>(new SystemBus(bus));
}

SystemBus::~SystemBus() {
  // Closed without flushing: nothing we could still send matters, and flushing could wait.
  sd_bus_close_unref(m_bus);
}

bool SystemBus::usable() {
  if (m_late) return false;
  // Takes in what came meanwhile (the bus's own signals to us, late answers): a closed connection
  // shows here.
  while (sd_bus_process(m_bus, nullptr) > 0) {
  }
  return sd_bus_is_open(m_bus) > 0;
}

std::vector<SystemBus::Value> SystemBus::read(const std::vector<Property>& properties,
                                              Clock::time_point deadline) {
  std::vector<Value> values(properties.size());
  std::size_t waiting = 0;
  std::vector<Pending> pending(properties.size());
  for (std::size_t i = 0; i < properties.size(); ++i) {
    const Property& property = properties[i];
    sd_bus_message* call = nullptr;
    if (sd_bus_message_new_method_call(m_bus, &call, property.service.c_str(),
                                       property.path.c_str(), "org.freedesktop.DBus.Properties",
                                       "Get") < 0) {
      continue;
    }
    pending[i].waiting = &waiting;
    if (sd_bus_message_append(call, "ss", property.interface.c_str(), property.name.c_str()) >= 0 &&
        sd_bus_call_async(m_bus, &pending[i].slot, call, onReply, &pending[i],
                          std::max<std::uint64_t>(microsecondsUntil(deadline), 1)) >= 0) {
      ++waiting;
    }
    sd_bus_message_unref(call);
  }
  while (waiting > 0) {
    const int processed = sd_bus_process(m_bus, nullptr);
    if (processed < 0) break;
    if (processed > 0) continue;
    const std::uint64_t left = microsecondsUntil(deadline);
    if (left == 0) {
      m_late = true;
      break;
    }
    const int woken = sd_bus_wait(m_bus, left);
    if (woken < 0 && woken != -EINTR) break;
  }
  for (std::size_t i = 0; i < pending.size(); ++i) {
    // Dropping the slot cancels a read still waiting, so no late answer reaches `pending`.
    sd_bus_slot_unref(pending[i].slot);
    if (pending[i].reply) {
      values[i] = Value(pending[i].reply);
      sd_bus_message_unref(pending[i].reply);
    }
  }
  return values;
}

}  // namespace linkferry
