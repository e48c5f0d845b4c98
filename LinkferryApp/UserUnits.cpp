#include "UserUnits.h"

#include <system_error>
#include <vector>

#include "foundation/Files.h"

namespace linkferry::UserUnits {
namespace {

namespace fs = std::filesystem;
using DesktopIntegration::Report;
using DesktopIntegration::Setup;

// `systemctl --user ARGUMENTS…`; false when there is no systemctl or no user session to ask.
bool userSystemctl(const Setup& setup, const std::vector<std::string>& arguments) {
  std::vector<std::string> all{"--user"};
  all.insert(all.end(), arguments.begin(), arguments.end());
  auto result = DesktopIntegration::runTool(setup, "systemctl", all);
  return result && result->exitStatus == 0;
}

}  // namespace

fs::path folder(const Setup& setup) {
  return setup.configFolder() / "systemd" / "user";
}
fs::path socketUnit(const Setup& setup) {
  return folder(setup) / "linkferry.socket";
}
fs::path serviceUnit(const Setup& setup) {
  return folder(setup) / "linkferry.service";
}

std::string socketUnitText() {
  return "[Unit]\n"
         "Description=LinkFerry link router socket\n"
         "\n"
         "[Socket]\n"
         "ListenStream=%t/linkferry/router.sock\n"
         "SocketMode=0600\n"
         "DirectoryMode=0700\n"
         "\n"
         "[Install]\n"
         "WantedBy=sockets.target\n";
}

std::string serviceUnitText(const fs::path& program) {
  return "[Unit]\n"
         "Description=LinkFerry link router\n"
         "Requires=linkferry.socket\n"
         "\n"
         "[Service]\n"
         "ExecStart=" +
         DesktopIntegration::execArgument(program.string()) +
         " serve\n"
         "\n"
         "[Install]\n"
         "Also=linkferry.socket\n";
}

void install(const Setup& setup, Report& report) {
  Files::writeAtomically(socketUnit(setup), socketUnitText());
  Files::writeAtomically(serviceUnit(setup), serviceUnitText(setup.program));
  report.done.push_back("wrote " + socketUnit(setup).string() + " and " +
                        serviceUnit(setup).string());
  if (userSystemctl(setup, {"daemon-reload"}) &&
      userSystemctl(setup, {"enable", "--now", "linkferry.socket"})) {
    report.done.push_back("systemd starts linkferry serve on the first click");
  } else {
    // Not a fault: without a user session `linkferry open` starts the service itself.
    report.done.push_back("no systemd user session: the first click starts linkferry serve");
  }
}

void uninstall(const Setup& setup, Report& report) {
  std::error_code error;
  if (!fs::exists(socketUnit(setup), error) && !fs::exists(serviceUnit(setup), error)) return;
  (void)userSystemctl(setup, {"disable", "--now", "linkferry.socket", "linkferry.service"});
  for (const fs::path& unit : {socketUnit(setup), serviceUnit(setup)}) {
    if (fs::remove(unit, error)) {
      report.done.push_back("removed " + unit.string());
    } else if (error) {
      throw std::system_error(error, "cannot remove " + unit.string());
    }
  }
  (void)userSystemctl(setup, {"daemon-reload"});
}

}  // namespace linkferry::UserUnits
