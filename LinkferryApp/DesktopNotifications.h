#pragma once

#include <chrono>
#include <map>
#include <string>

namespace linkferry {

// Desktop notifications through the freedesktop notification service
// (org.freedesktop.Notifications.Notify on the session bus, which every desktop runs).
namespace DesktopNotifications {

// How long a notification may take, connecting included, before it is given up.
inline constexpr std::chrono::milliseconds kTimeout{1000};

// The session bus of `environment`: DBUS_SESSION_BUS_ADDRESS when set, else the user's bus socket
// in XDG_RUNTIME_DIR ("unix:path=<dir>/bus"); empty when neither is known.
std::string sessionBusAddress(const std::map<std::string, std::string>& environment);

// Shows one notification from LinkFerry on the session bus of `environment`. The body may
// carry outside text: it is sent with markup characters escaped, since a notification server
// may read the body as markup. False when there is no bus, no notification service or no answer
// within kTimeout; never throws. Blocks the calling thread up to kTimeout.
bool show(const std::string& summary, const std::string& body,
          const std::map<std::string, std::string>& environment);

// `text` with "&", "<" and ">" written as entities: notification servers read the body as
// markup, so outside text must not be taken for tags.
std::string escapedBody(const std::string& text);

}  // namespace DesktopNotifications
}  // namespace linkferry
