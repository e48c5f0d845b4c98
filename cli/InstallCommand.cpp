// `linkferry install`: registers LinkFerry as the desktop's default web browser.
// `linkferry uninstall`: gives the defaults back to what they were and stops the service.
// `linkferry doctor`: checks every piece of the registration and says how to fix what is wrong;
// exits 1 when something is.
#include <iostream>
#include <memory>
#include <string>

#include "Command.h"
#include "DesktopDoctor.h"
#include "DesktopIntegration.h"
#include "ServiceClient.h"
#include "foundation/Json.h"

namespace linkferry::cli {
namespace {

int printReport(const DesktopIntegration::Report& report, bool json) {
  if (json) {
    printJson(JsonValue{{"done", report.done}, {"warnings", report.warnings}});
  } else {
    for (const std::string& line : report.done) std::cout << line << '\n';
  }
  for (const std::string& warning : report.warnings) printError("warning: " + warning);
  return kSuccess;
}

int doctor(bool json) {
  const auto checks = DesktopDoctor::run(DesktopIntegration::Setup::forThisProcess());
  bool healthy = true;
  JsonValue list = JsonValue::array();
  for (const auto& check : checks) {
    healthy &= check.ok;
    JsonValue item = {{"check", check.name}, {"ok", check.ok}, {"message", check.message}};
    if (check.fix) item["fix"] = *check.fix;
    list.push_back(std::move(item));
    if (!json) {
      std::cout << (check.ok ? "ok       " : "PROBLEM  ") << check.name << ": " << check.message
                << '\n';
      if (check.fix) std::cout << "         fix: " << *check.fix << '\n';
    }
  }
  if (json) printJson(JsonValue{{"healthy", healthy}, {"checks", list}});
  return healthy ? kSuccess : kInputError;
}

// The defaults given back and the units removed (which stops a service the service manager
// started), then a service a click started is asked to stop too: after uninstalling, nothing of
// LinkFerry answers clicks.
DesktopIntegration::Report uninstallAndStop(const DesktopIntegration::Setup& setup) {
  DesktopIntegration::Report report = DesktopIntegration::uninstall(setup);
  std::optional<ServiceClient::Connection> connection =
      ServiceClient::Connection::open(setup.environment);
  if (!connection) return report;
  ServiceClient::Served served{std::move(*connection), JsonValue::object()};
  try {
    served.status = served.connection.exchange({{"request", "status"}}, std::chrono::seconds(5));
  } catch (const std::exception&) {
    // Its process number only names it in the report.
  }
  const std::string who =
      "linkferry serve (process " + std::to_string(served.status.value("pid", 0)) + ")";
  if (ServiceClient::stop(served)) {
    report.done.push_back("stopped " + who);
  } else {
    report.warnings.push_back(who + " did not stop; end it with: kill " +
                              std::to_string(served.status.value("pid", 0)));
  }
  return report;
}

// A command that changes the desktop's registration and reports what it did.
CommandSetup reportingCommand(const char* name, const char* description,
                              DesktopIntegration::Report (*change)(
                                  const DesktopIntegration::Setup&)) {
  return [=](CLI::App& program) -> CommandAction {
    auto json = std::make_shared<bool>(false);
    program.add_subcommand(name, description)
        ->add_flag("--json", *json, "Machine-readable output");
    return [json, change] {
      return printReport(change(DesktopIntegration::Setup::forThisProcess()), *json);
    };
  };
}

const RegisterCommand kInstall(reportingCommand(
    "install", "Make LinkFerry the default web browser, remembering the current default",
    &DesktopIntegration::install));

const RegisterCommand kUninstall(reportingCommand(
    "uninstall", "Give the default web browser back and remove LinkFerry's desktop entry",
    &uninstallAndStop));

const RegisterCommand kDoctor([](CLI::App& program) -> CommandAction {
  auto json = std::make_shared<bool>(false);
  auto* command = program.add_subcommand(
      "doctor", "Check the desktop entry, the defaults, the data folder and the rules");
  command->add_flag("--json", *json, "Machine-readable output");
  return [json] { return doctor(*json); };
});

}  // namespace
}  // namespace linkferry::cli
