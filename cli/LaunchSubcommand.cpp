// `linkferry launch URL --browser ID [--profile P] [--container C] [--private]
// [--new-window | --current-tab] [--background] [--dry-run] [--via-helper] [--json]`: builds the
// plan that opens one link in one browser target of this machine's catalog and runs it (detached:
// the browser outlives this command), hands it to the helper, or only shows it.
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "Command.h"
#include "Environment.h"
#include "ViaHelper.h"
#include "browsers/BrowserCatalog.h"
#include "browsers/DesktopEntries.h"
#include "foundation/Files.h"
#include "foundation/Json.h"
#include "foundation/URL.h"
#include "launching/DetachedLaunchRunner.h"
#include "launching/LaunchCommand.h"
#include "launching/LaunchError.h"
#include "launching/LaunchPlatform.h"
#include "routing/RouteTarget.h"
#include "settings/LinkferryPaths.h"

namespace linkferry::cli {

namespace {

struct LaunchArguments {
  std::string link;
  std::string browser;
  std::optional<std::string> profile;
  std::optional<std::string> container;
  bool privateMode = false;
  bool newWindow = false;
  bool currentTab = false;
  bool background = false;
  bool dryRun = false;
  bool viaHelper = false;
  bool json = false;
};

// A shell-style rendering for people to read; the plan itself never goes through a shell.
std::string quoted(const std::string& argument) {
  const bool plain = !argument.empty() && argument.find_first_not_of(
                                              "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWX"
                                              "YZ0123456789_@%+=:,./-") == std::string::npos;
  if (plain) return argument;
  std::string text = "'";
  for (char c : argument) {
    if (c == '\'') {
      text += "'\\''";
    } else {
      text += c;
    }
  }
  return text + "'";
}

std::string commandLine(const LaunchPlan& plan) {
  std::string line = quoted(plan.executable);
  for (const std::string& argument : plan.arguments) line += " " + quoted(argument);
  return line;
}

void printPlan(const LaunchPlan& plan, bool json) {
  if (json) {
    printJson(plan.toJson());
    return;
  }
  std::cout << commandLine(plan) << '\n';
  for (const LaunchPlan& fallback : plan.fallbacks) {
    std::cout << "fallback: " << commandLine(fallback) << '\n';
  }
}

// Runs the plan, then its fallbacks in order while they fail. Returns the exit code.
int runPlan(const LaunchPlan& plan) {
  DetachedLaunchRunner runner;
  try {
    runner.run(plan);
    return kSuccess;
  } catch (const std::exception& error) {
    if (plan.fallbacks.empty()) {
      printError(error.what());
      return kInternalError;
    }
    printError(std::string("launch failed: ") + error.what());
    if (plan.fallbackNote) printError(*plan.fallbackNote);
  }
  for (std::size_t i = 0; i < plan.fallbacks.size(); ++i) {
    try {
      runner.run(plan.fallbacks[i]);
      return kSuccess;
    } catch (const std::exception& error) {
      printError(std::string("fallback failed: ") + error.what());
    }
  }
  return kInternalError;
}

int runLaunch(const LaunchArguments& arguments) {
  const std::optional<URL> url = URL::parse(arguments.link);
  if (!url || !url->scheme()) {
    throw InputError("not a link with a scheme: " + arguments.link);
  }
  const BrowserTarget target{arguments.browser, arguments.profile, arguments.container,
                             arguments.privateMode};
  OpenOptions options;
  options.background = arguments.background;
  if (arguments.newWindow) options.openIn = OpenIn::newWindow;
  if (arguments.currentTab) options.openIn = OpenIn::currentTab;

  const BrowserCatalog catalog = machineCatalog();
  std::optional<LaunchPlan> plan;
  try {
    plan = LaunchCommand::plan(RouteTarget::open(target), *url, catalog, options,
                               currentLaunchPlatform());
  } catch (const LaunchError& error) {
    throw InputError(error.what());
  }
  if (!plan) return kSuccess;  // an `open` target always has a plan; kept for safety
  for (const std::string& warning : plan->warnings) printError("warning: " + warning);

  if (arguments.dryRun) {
    printPlan(*plan, arguments.json);
    return kSuccess;
  }
  if (arguments.viaHelper) return launchViaHelper(*plan);
  const int status = runPlan(*plan);
  if (status == kSuccess && arguments.json) printJson(plan->toJson());
  return status;
}

RegisterCommand registerLaunch([](CLI::App& program) -> CommandAction {
  auto* command =
      program.add_subcommand("launch", "Open a link in a browser, profile or container");
  auto arguments = std::make_shared<LaunchArguments>();
  command->add_option("url", arguments->link, "The link to open (with its scheme)")->required();
  command->add_option("--browser", arguments->browser, "Browser identifier (see `browsers`)")
      ->required();
  command->add_option("--profile", arguments->profile, "Profile identifier");
  command->add_option("--container", arguments->container, "Firefox container identifier");
  command->add_flag("--private", arguments->privateMode, "Open in a private window");
  auto* newWindow = command->add_flag("--new-window", arguments->newWindow, "Open in a new window");
  auto* currentTab = command->add_flag("--current-tab", arguments->currentTab,
                                       "Replace the page in the current tab");
  newWindow->excludes(currentTab);
  command->add_flag("--background", arguments->background, "Do not bring the browser forward");
  command->add_flag("--dry-run", arguments->dryRun, "Print the plan instead of running it");
  command->add_flag("--via-helper", arguments->viaHelper, "Let the LinkFerry helper run the plan");
  command->add_flag("--json", arguments->json, "Print the plan as JSON");
  return [arguments] { return runLaunch(*arguments); };
});

}  // namespace
}  // namespace linkferry::cli
