// `linkferry open URL… [--dry-run] [--pick] [--source-app ID] [--json] [--start-service]`:
// routes each link as a click would and opens it. The links go to `linkferry serve` when it
// answers on its socket, and are routed in this process otherwise, with the same result. When the
// user must choose and standard input is a terminal, the candidates are listed and the typed
// answer is carried back to the router; without a terminal but with a display the picker window
// (linkferry-picker) asks instead; otherwise the picker request is printed (JSON: with --json the
// result's "picker", else one line "picker request: {…}") and the command exits 3, the log entry
// left pending.
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ClickRouting.h"
#include "Command.h"
#include "LinuxContext.h"
#include "PickerWindow.h"
#include "RouterLoader.h"
#include "ServiceClient.h"
#include "SourceApp.h"
#include "TerminalPicker.h"
#include "browsers/DesktopEntries.h"
#include "foundation/Files.h"
#include "foundation/Json.h"
#include "foundation/Process.h"
#include "foundation/URL.h"
#include "launching/LaunchEnvironment.h"
#include "preparation/AppLinks.h"

namespace linkferry::cli {

namespace {

struct OpenArguments {
  std::vector<std::string> links;
  bool dryRun = false;
  bool pick = false;
  std::optional<std::string> sourceApp;
  bool json = false;
  bool startService = false;
  // The service's "pick" outcome for the only link, routed already by `linkferry-open`, which
  // hands the picker over to this command (see LinkferryOpen/).
  std::optional<std::string> servicePicker;
};

// A service this command starts stops after this long without clicks.
constexpr const char* kStartedServiceIdleSeconds = "900";

// The picker for a "pick" outcome: asks the user on the terminal and returns the answer (cancel
// included). Nothing when nobody can be asked: the picker request is then printed and the
// command exits 3.
std::optional<TerminalPicker::Answer> askUser(const ClickOutcome& outcome, bool terminal) {
  if (!terminal || !outcome.picker) return std::nullopt;
  std::cout << "Open " << outcome.picker->value("url", outcome.link) << " in:\n";
  if (outcome.picker->contains("note")) {
    std::cout << "  " << outcome.picker->value("note", std::string()) << '\n';
  }
  for (const std::string& row : outcome.rows) std::cout << "  " << row << '\n';
  for (;;) {
    std::cout << "Number to open, r+number to remember for this domain, p+number for a private "
                 "window, empty to cancel: "
              << std::flush;
    std::string line;
    if (!std::getline(std::cin, line)) line.clear();
    const TerminalPicker::Answer answer = TerminalPicker::parse(line, outcome.rows.size());
    if (answer.kind != TerminalPicker::Answer::Kind::invalid) return answer;
    std::cout << "No such row.\n";
  }
}

// The picker window's answer; nothing (the error reported) when the window could not answer, so
// the request is printed instead.
std::optional<PickerChoice> askInWindow(const std::string& program, const PickerRequest& request,
                                        const BrowserCatalog& catalog,
                                        const AppSettings& settings) {
  const PickerWindow::Result result = PickerWindow::show(program, request, catalog, settings);
  if (result.kind == PickerWindow::Result::Kind::failed) {
    printError(result.error);
    return std::nullopt;
  }
  return PickerChoice::from(result);
}

// The window for a link the service routed: the catalog and settings for its labels and scopes
// are read here (no browser data), only now that a person must choose anyway.
std::optional<PickerChoice> askInWindowForService(const std::string& program,
                                                  const ClickOutcome& outcome,
                                                  const std::map<std::string, std::string>& environment,
                                                  PickerWindow::Result& result) {
  RouterLoader::Options options;
  options.environment = environment;
  options.home = Files::home();
  options.network = false;
  options.readSignals = false;
  const RouterLoader::Loaded loaded = RouterLoader::load(options);
  const RouterState state = loaded.router->state();
  const PickerRequest request =
      PickerRequest::fromJson(JsonReader(*outcome.picker, "the service's answer", "picker"));
  result = PickerWindow::show(program, request, *state.catalog, *state.settings);
  if (result.kind == PickerWindow::Result::Kind::failed) {
    printError(result.error);
    return std::nullopt;
  }
  return PickerChoice::from(result);
}

// Each result printed as it comes, or all as one JSON array at the end.
class Results {
 public:
  explicit Results(bool json) : m_json(json) {}
  void add(const ClickOutcome& outcome) {
    if (m_json) {
      m_results.push_back(outcome.toJson());
    } else {
      std::cout << outcome.text();
    }
  }
  ~Results() {
    if (m_json) printJson(m_results);
  }

 private:
  bool m_json;
  JsonValue m_results = JsonValue::array();
};

int openThroughService(ServiceClient::Connection& connection, const std::vector<URL>& links,
                       const OpenArguments& arguments,
                       const std::map<std::string, std::string>& environment) {
  const JsonValue clickEnvironment = ServiceClient::clickEnvironment(environment);
  const bool terminal = isatty(STDIN_FILENO) == 1;
  const std::optional<std::string> pickerWindow =
      terminal ? std::nullopt : PickerWindow::program(environment);
  int exitCode = kSuccess;
  Results results(arguments.json);
  for (const URL& url : links) {
    ClickOutcome outcome;
    try {
      outcome = arguments.servicePicker
                    ? ClickOutcome::fromJson(JsonReader(Json::parse(*arguments.servicePicker,
                                                                    "--service-picker"),
                                                        "--service-picker"))
                    : ClickOutcome::fromServiceAnswer(connection.exchange(
                          ServiceClient::clickRequest(url.absoluteString(), arguments.pick,
                                                      arguments.dryRun, arguments.sourceApp,
                                                      environment),
                          ServiceClient::kClickTimeout));
      if (outcome.status == "pick") {
        std::optional<PickerChoice> answer;
        PickerWindow::Result window;
        if (auto typed = askUser(outcome, terminal)) {
          answer = PickerChoice::from(*typed);
        } else if (pickerWindow) {
          answer = askInWindowForService(*pickerWindow, outcome, environment, window);
        }
        if (answer) {
          JsonValue reply = {{"request", answer->cancel ? "cancel" : "choose"},
                             {"id", outcome.picker->value("id", std::string())},
                             {"index", answer->index},
                             {"privateMode", answer->privateMode},
                             {"environment", clickEnvironment}};
          if (window.scopeID) {
            reply["scope"] = *window.scopeID;
            if (window.pattern) reply["pattern"] = *window.pattern;
          } else {
            reply["remember"] = answer->remember.has_value();
          }
          if (answer->duration) reply["duration"] = answer->duration->toJson();
          // The user may have taken longer than the service keeps a silent connection open.
          auto fresh = ServiceClient::Connection::open(environment);
          if (!fresh) throw std::runtime_error("the service went away before the answer");
          outcome = ClickOutcome::fromServiceAnswer(fresh->exchange(reply, ServiceClient::kClickTimeout));
        }
      }
    } catch (const std::exception& error) {
      outcome = ClickOutcome::failed(url.absoluteString(), error.what());
    }
    exitCode = worst(exitCode, outcome.exitStatus());
    results.add(outcome);
  }
  return exitCode;
}

int openInProcess(const std::vector<URL>& links, const OpenArguments& arguments,
                  const std::map<std::string, std::string>& environment) {
  RouterLoader::Options options;
  options.environment = environment;
  options.home = Files::home();
  RouterLoader::Loaded loaded = RouterLoader::load(options);
  for (const std::string& problem : loaded.problems) printError(problem);
  if (arguments.dryRun) {
    AppSettings settings = *loaded.router->state().settings;
    settings.dryRun = true;
    loaded.router->setSettings(std::make_shared<const AppSettings>(std::move(settings)));
  }
  const bool terminal = isatty(STDIN_FILENO) == 1;
  // Without a terminal, the picker window when a display is at hand.
  const std::optional<std::string> pickerWindow =
      terminal ? std::nullopt : PickerWindow::program(environment);
  // The desktop entries, read once: the apps that open app links, and the app the links were
  // clicked in (as given, else the first ancestor of this process that belongs to an installed
  // desktop entry; unknown stays absent).
  std::vector<DesktopEntry> entries = DesktopEntries::load(
      DesktopEntries::applicationDirectories(options.home, options.environment));
  const std::set<std::string> installedApps = AppLinks::linuxInstalledApps(entries);
  std::optional<std::string> sourceApp = arguments.sourceApp;
  if (!sourceApp) {
    if (auto found = AncestrySourceAppFinder::forEntries(std::move(entries), options.environment,
                                                         static_cast<int>(::getpid()))
                         .sourceApp()) {
      sourceApp = found->id;
    }
  }

  // The display and bus connections serve every link of this run.
  const LinuxContext::Gatherer gatherer(options.home);
  int exitCode = kSuccess;
  Results results(arguments.json);
  for (const URL& url : links) {
    const RouterState state = loaded.router->state();
    const auto [context, sourceWindow] =
        gatherer.click(options.environment, installedApps, *state.catalog, *state.settings);
    const LinkRequest request(url, sourceApp, sourceWindow, context.now);
    std::optional<PickerRequest> picker;
    ClickOutcome outcome =
        ClickRouting::route(*loaded.router, *loaded.log, request, context, arguments.pick, &picker);
    if (picker) {
      std::optional<PickerChoice> answer;
      if (auto typed = askUser(outcome, terminal)) {
        answer = PickerChoice::from(*typed);
      } else if (pickerWindow) {
        answer = askInWindow(*pickerWindow, *picker, *state.catalog, *state.settings);
      }
      if (answer) outcome = ClickRouting::answer(*loaded.router, *loaded.log, *picker, *answer);
    }
    exitCode = worst(exitCode, outcome.exitStatus());
    results.add(outcome);
  }
  return exitCode;
}

// Starts `linkferry serve` for the next clicks, detached; it stops by itself when idle. Where the
// service manager owns the socket this never runs: the socket always answers there.
void startService(const std::map<std::string, std::string>& environment) {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return;
  try {
    Process::launchDetached(self.string(), {"serve", "--idle-exit", kStartedServiceIdleSeconds},
                            std::chrono::milliseconds(0), LaunchEnvironment::forChild(environment));
  } catch (const std::exception& failure) {
    printError(std::string("cannot start the service: ") + failure.what());
  }
}

int runOpen(const OpenArguments& arguments) {
  std::vector<URL> links;
  for (const std::string& text : arguments.links) {
    std::optional<URL> url = URL::parse(text);
    if (!url || !url->scheme()) throw InputError("not a link with a scheme: " + text);
    links.push_back(*url);
  }
  if (arguments.servicePicker && links.size() != 1) {
    throw InputError("--service-picker goes with exactly one link");
  }
  const std::map<std::string, std::string> environment = Process::currentEnvironment();
  // The service first, before anything heavy is loaded here; it must serve this data folder.
  if (auto connection = ServiceClient::Connection::openServing(environment, Files::home())) {
    return openThroughService(*connection, links, arguments, environment);
  }
  if (arguments.servicePicker) {
    throw std::runtime_error("the service went away before the picker was answered");
  }
  if (arguments.startService) startService(environment);
  return openInProcess(links, arguments, environment);
}

RegisterCommand registerOpen([](CLI::App& program) -> CommandAction {
  auto* command = program.add_subcommand("open", "Route links as if they were clicked, and open them");
  auto arguments = std::make_shared<OpenArguments>();
  command->add_option("links", arguments->links, "The links to open")->required();
  command->add_flag("--dry-run", arguments->dryRun, "Decide and show the command, run nothing");
  command->add_flag("--pick", arguments->pick, "Always ask, whatever was decided");
  command->add_option("--source-app", arguments->sourceApp,
                      "Desktop identifier of the app the links come from");
  command->add_flag("--json", arguments->json, "Print the results as JSON");
  command->add_flag("--start-service", arguments->startService,
                    "When no service answers, start linkferry serve for the next clicks");
  // Internal: linkferry-open's hand-over of a picker the service asked for.
  command->add_option("--service-picker", arguments->servicePicker)->group("");
  return [arguments] { return runOpen(*arguments); };
});

}  // namespace

}  // namespace linkferry::cli
