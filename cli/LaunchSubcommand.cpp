// `linkferry launch URL --browser ID [--profile P] [--container C] [--private]
// [--new-window | --current-tab] [--background] [--dry-run] [--via-helper] [--json] [--verbose]`:
// builds the plan that opens one link in one browser target of this machine's catalog and runs it
// (detached: the browser outlives this command), hands it to the helper, or only shows it.
// `javascript:`, `vbscript:` and `data:` links are refused (they run rather than open), a `file:`
// link is opened with a warning, and a text holding white space is no link.
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "Command.h"
#include "Environment.h"
#include "ViaHelper.h"
#include "browsers/BrowserCatalog.h"
#include "browsers/DesktopEntries.h"
#include "browsers/BrowserFamily.h"
#include "foundation/DisplayText.h"
#include "foundation/Files.h"
#include "foundation/Text.h"
#include "foundation/Json.h"
#include "foundation/URL.h"
#include "launching/DetachedLaunchRunner.h"
#include "launching/LaunchCommand.h"
#include "launching/LaunchError.h"
#include "launching/LaunchPlatform.h"
#include "routing/RouteTarget.h"
#include "safety/LinkSafety.h"
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
  bool verbose = false;
};

void printPlan(const LaunchPlan& plan, bool json) {
  if (json) {
    printJson(plan.toJson());
    return;
  }
  std::cout << DisplayText::pasteable(plan.commandLine()) << '\n';
  for (const LaunchPlan& fallback : plan.fallbacks) {
    std::cout << "fallback: " << DisplayText::pasteable(fallback.commandLine()) << '\n';
  }
}

// One line for a failed launch: a browser may write pages of diagnostics before it exits, and
// the last line that says something is nearly always the reason. The whole output is printed on
// standard error first with --verbose.
std::string failureLine(const std::exception& error, const LaunchPlan& plan, bool verbose) {
  const auto* launchError = dynamic_cast<const LaunchError*>(&error);
  const auto* failed = launchError ? launchError->as<LaunchError::FailedWithOutput>() : nullptr;
  if (!failed) return error.what();
  std::vector<std::string_view> lines;
  for (std::string_view line : Text::split(failed->output, '\n')) {
    line = Text::trimmed(line);
    if (!line.empty()) lines.push_back(line);
  }
  if (lines.size() <= 1) return error.what();
  if (verbose) {
    std::cerr << plan.executable << " wrote:\n" << failed->output << '\n' << std::flush;
  }
  std::string text =
      "exited with status " + std::to_string(failed->status) + ": " + std::string(lines.back());
  if (!verbose) text += " (" + std::to_string(lines.size() - 1) + " more lines with --verbose)";
  return text;
}

// Runs the plan, then its fallbacks in order while they fail. Returns the exit code.
int runPlan(const LaunchPlan& plan, bool verbose) {
  DetachedLaunchRunner runner;
  try {
    runner.run(plan);
    return kSuccess;
  } catch (const std::exception& error) {
    if (plan.fallbacks.empty()) {
      printError(failureLine(error, plan, verbose));
      return kInternalError;
    }
    printError("launch failed: " + failureLine(error, plan, verbose));
    if (plan.fallbackNote) printError(*plan.fallbackNote);
  }
  for (const LaunchPlan& fallback : plan.fallbacks) {
    try {
      runner.run(fallback);
      return kSuccess;
    } catch (const std::exception& error) {
      printError("fallback failed: " + failureLine(error, fallback, verbose));
    }
  }
  return kInternalError;
}

// Refuses links that run code in the browser instead of opening a page; warns for a file of this
// machine. Returns the warnings.
std::vector<std::string> linkWarnings(const std::string& text, const URL& url) {
  const std::string scheme = Text::asciiLowercased(url.scheme().value_or(""));
  if (LinkSafety::dangerousSchemes().count(scheme)) {
    throw InputError("refusing a " + scheme +
                     ": link: its text would run as a script or page of its own, not open a site");
  }
  if (scheme == "file") return {"this opens a file of this machine, not a web page: " + text};
  return {};
}

// The warning for a container the plan had to leave out because the browser is no Firefox (the
// Firefox case warns in the plan itself).
std::optional<std::string> containerWarning(const BrowserTarget& target,
                                            const BrowserCatalog& catalog) {
  if (!target.container) return std::nullopt;
  const CatalogBrowser* browser = catalog.browser(target.browser);
  if (!browser || browser->definition.family == BrowserFamily::firefox) return std::nullopt;
  return "containers are a Firefox feature; opening in " + browser->definition.name +
         " without container " + *target.container;
}

int runLaunch(const LaunchArguments& arguments) {
  if (holdsWhiteSpace(arguments.link)) {
    throw InputError("white space is not allowed in a link: \"" + arguments.link + "\"");
  }
  const std::optional<URL> url = URL::parse(arguments.link);
  if (!url || !url->scheme()) {
    throw InputError("not a link with a scheme: " + arguments.link);
  }
  std::vector<std::string> warnings = linkWarnings(arguments.link, *url);
  OpenOptions options;
  options.background = arguments.background;
  if (arguments.newWindow) options.openIn = OpenIn::newWindow;
  if (arguments.currentTab) options.openIn = OpenIn::currentTab;

  const BrowserCatalog catalog = machineCatalog();
  // Names as `linkferry browsers` shows them work here as in rules ("Firefox", "Work").
  const TargetResolution resolution = catalog.resolve(BrowserTarget{
      arguments.browser, arguments.profile, arguments.container, arguments.privateMode});
  for (const std::string& ambiguous : resolution.ambiguous) printError("warning: " + ambiguous);
  const BrowserTarget& target = resolution.target;
  std::optional<LaunchPlan> plan;
  try {
    plan = LaunchCommand::plan(RouteTarget::open(target), *url, catalog, options,
                               currentLaunchPlatform());
  } catch (const LaunchError& error) {
    throw InputError(error.what());
  }
  if (!plan) return kSuccess;  // an `open` target always has a plan; kept for safety
  if (auto warning = containerWarning(target, catalog)) plan->warnings.push_back(*warning);
  plan->warnings.insert(plan->warnings.begin(), warnings.begin(), warnings.end());
  for (const std::string& warning : plan->warnings) printError("warning: " + warning);

  if (arguments.dryRun) {
    printPlan(*plan, arguments.json);
    return kSuccess;
  }
  if (arguments.viaHelper) return launchViaHelper(*plan);
  const int status = runPlan(*plan, arguments.verbose);
  if (status == kSuccess && arguments.json) printJson(plan->toJson());
  return status;
}

RegisterCommand registerLaunch([](CLI::App& program) -> CommandAction {
  auto* command =
      program.add_subcommand("launch", "Open a link in a browser, profile or container");
  auto arguments = std::make_shared<LaunchArguments>();
  command->add_option("url", arguments->link, "The link to open (with its scheme)")->required();
  command->add_option("--browser", arguments->browser, "Browser identifier or name (see `browsers`)")
      ->required();
  command->add_option("--profile", arguments->profile, "Profile identifier or name");
  command->add_option("--container", arguments->container, "Firefox container identifier or name");
  command->add_flag("--private", arguments->privateMode, "Open in a private window");
  auto* newWindow = command->add_flag("--new-window", arguments->newWindow, "Open in a new window");
  auto* currentTab = command->add_flag("--current-tab", arguments->currentTab,
                                       "Replace the page in the current tab");
  newWindow->excludes(currentTab);
  command->add_flag("--background", arguments->background, "Do not bring the browser forward");
  command->add_flag("--dry-run", arguments->dryRun, "Print the plan instead of running it");
  command->add_flag("--via-helper", arguments->viaHelper, "Let the LinkFerry helper run the plan");
  command->add_flag("--json", arguments->json, "Print the plan as JSON");
  command->add_flag("--verbose", arguments->verbose,
                    "On failure, print everything the browser wrote");
  return [arguments] { return runLaunch(*arguments); };
});

}  // namespace
}  // namespace linkferry::cli
