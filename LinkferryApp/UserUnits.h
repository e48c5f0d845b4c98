#pragma once

#include <filesystem>
#include <string>

#include "DesktopIntegration.h"

// The systemd user units that start `linkferry serve` on the first click: linkferry.socket listens
// on the service's socket, linkferry.service runs the installed program. Written, enabled,
// disabled and removed through the folders and the environment of a DesktopIntegration::Setup.
namespace linkferry::UserUnits {

// $XDG_CONFIG_HOME/systemd/user (default ~/.config/systemd/user) and the two units there.
std::filesystem::path folder(const DesktopIntegration::Setup& setup);
std::filesystem::path socketUnit(const DesktopIntegration::Setup& setup);
std::filesystem::path serviceUnit(const DesktopIntegration::Setup& setup);

// The units' texts; the service runs `program serve`.
std::string socketUnitText();
std::string serviceUnitText(const std::filesystem::path& program);

// Writes both units, then reloads the user's service manager and enables and starts the socket.
// Without systemctl or a user session that is no fault (the report says the first click starts
// the service). Throws std::system_error naming a unit that cannot be written.
void install(const DesktopIntegration::Setup& setup, DesktopIntegration::Report& report);

// When either unit exists: disables and stops both, removes them and reloads the service manager.
// Throws std::system_error naming a unit that cannot be removed.
void uninstall(const DesktopIntegration::Setup& setup, DesktopIntegration::Report& report);

}  // namespace linkferry::UserUnits
