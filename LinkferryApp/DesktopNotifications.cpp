#include "DesktopNotifications.h"

#include <systemd/sd-bus.h>

#include <cstdint>

namespace linkferry::DesktopNotifications {

std::string sessionBusAddress(const std::map<std::string, std::string>& environment) {
  const auto given = environment.find("DBUS_SESSION_BUS_ADDRESS");
  if (given != environment.end() && !given->second.empty()) return given->second;
  const auto runtime = environment.find("XDG_RUNTIME_DIR");
  if (runtime != environment.end() && runtime->second.starts_with("/")) {
    return "unix:path=" + runtime->second + "/bus";
  }
  return {};
}

std::string escapedBody(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

bool show(const std::string& summary, const std::string& body,
          const std::map<std::string, std::string>& environment) {
  const std::string address = sessionBusAddress(environment);
  if (address.empty()) return false;
  sd_bus* bus = nullptr;
  if (sd_bus_new(&bus) < 0) return false;
  bool shown = false;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  const auto timeout = static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(kTimeout).count());
  if (sd_bus_set_address(bus, address.c_str()) >= 0 && sd_bus_set_bus_client(bus, 1) >= 0 &&
      sd_bus_set_method_call_timeout(bus, timeout) >= 0 && sd_bus_start(bus) >= 0) {
    // Notify(app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout):
    // no actions, no hints, the server's own timeout.
    shown =
        sd_bus_call_method(bus, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                           "org.freedesktop.Notifications", "Notify", &error, &reply,
                           "susssasa{sv}i", "LinkFerry", std::uint32_t{0}, "linkferry",
                           summary.c_str(), escapedBody(body).c_str(), 0, 0, std::int32_t{-1}) >= 0;
  }
  sd_bus_message_unref(reply);
  sd_bus_error_free(&error);
  // Closed without flushing: the call was answered or given up.
  sd_bus_close_unref(bus);
  return shown;
}

}  // namespace linkferry::DesktopNotifications
