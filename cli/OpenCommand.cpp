// `linkferry open URL… [--dry-run] [--pick] [--source-app ID] [--json]`: routes each link as a
// click would and opens it. When the user must choose and standard input is a terminal, the
// candidates are listed and the typed answer is carried back to the router; without a terminal
// but with a display the picker window (linkferry-picker) asks instead; otherwise the picker
// request is printed (JSON: with --json the result's "picker", else one line
// "picker request: {…}") and the command exits 3, the log entry left pending.
#include <unistd.h>

#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Command.h"
#include "LinuxContext.h"
#include "PickerWindow.h"
#include "RouterLoader.h"
#include "SourceApp.h"
#include "TerminalPicker.h"
#include "foundation/Files.h"
#include "foundation/Json.h"
#include "foundation/Process.h"
#include "foundation/URL.h"
#include "rules/RememberScope.h"
#include "rules/TargetLabel.h"

namespace linkferry::cli {

namespace {

// "The user must choose": the picker request was printed instead of shown.
constexpr int kMustChoose = 3;

struct OpenArguments {
  std::vector<std::string> links;
  bool dryRun = false;
  bool pick = false;
  std::optional<std::string> sourceApp;
  bool json = false;
};

// What happened to one link, for both output forms.
struct Outcome {
  std::string link;
  std::string status;  // opened, ignored, picked, cancelled, failed, pick
  std::optional<std::string> target;
  std::optional<std::string> reason;
  std::vector<std::string> trace;
  std::optional<JsonValue> picker;
  std::optional<std::string> error;
};

std::vector<std::string> traceOf(DecisionLog& log, const Uuid& id) {
  if (std::optional<LogEntry> entry = log.entry(id)) return entry->trace;
  return {};
}

// Opens the candidate the user chose (remembering it when asked) through the router.
void choose(const PickerRequest& request, std::size_t index, const std::optional<RememberScope>& scope,
            bool privateMode, const std::optional<RememberDuration>& duration,
            RouterLoader::Loaded& loaded, const BrowserCatalog& catalog, Outcome& outcome) {
  const BrowserTarget& target = request.candidates[index].target;
  try {
    loaded.router->choose(request.id, request.url, target, scope, privateMode, std::nullopt,
                          duration, Date::now());
    outcome.status = "picked";
  } catch (const std::exception& error) {
    outcome.status = "failed";
    outcome.error = error.what();
  }
  BrowserTarget opened = target;
  opened.privateMode = opened.privateMode || privateMode;
  outcome.target = TargetLabel::text(opened, catalog);
}

// Shows the picker on the terminal and carries the answer back; asks again after an answer that
// names no row. End of input cancels.
void pickOnTerminal(const PickerRequest& request, RouterLoader::Loaded& loaded,
                    const BrowserCatalog& catalog, Outcome& outcome) {
  std::cout << "Open " << request.url.absoluteString() << " in:\n";
  if (request.note) std::cout << "  " << *request.note << '\n';
  for (const std::string& row : TerminalPicker::rows(request, catalog)) {
    std::cout << "  " << row << '\n';
  }
  TerminalPicker::Answer answer;
  for (;;) {
    std::cout << "Number to open, r+number to remember for this domain, p+number for a private "
                 "window, empty to cancel: "
              << std::flush;
    std::string line;
    if (!std::getline(std::cin, line)) line.clear();
    answer = TerminalPicker::parse(line, request.candidates.size());
    if (answer.kind != TerminalPicker::Answer::Kind::invalid) break;
    std::cout << "No such row.\n";
  }
  if (answer.kind == TerminalPicker::Answer::Kind::cancel) {
    loaded.router->cancel(request.id, std::nullopt);
    outcome.status = "cancelled";
    return;
  }
  std::optional<RememberScope> scope;
  if (answer.remember) scope = RememberScope::domain();
  choose(request, answer.index, scope, answer.privateMode, std::nullopt, loaded, catalog, outcome);
}

// Shows the picker window and carries the answer back; false (the error reported) when the
// window could not answer, so the request is printed instead.
bool pickInWindow(const std::string& program, const PickerRequest& request,
                  RouterLoader::Loaded& loaded, const BrowserCatalog& catalog, Outcome& outcome) {
  const PickerWindow::Result answer =
      PickerWindow::show(program, request, catalog, *loaded.router->state().settings);
  if (answer.kind == PickerWindow::Result::Kind::failed) {
    printError(answer.error);
    return false;
  }
  if (answer.kind == PickerWindow::Result::Kind::cancelled) {
    loaded.router->cancel(request.id, std::nullopt);
    outcome.status = "cancelled";
    return true;
  }
  choose(request, answer.index, answer.remember, answer.privateMode, answer.duration, loaded,
         catalog, outcome);
  return true;
}

void print(const Outcome& outcome, const std::vector<std::string>& rows) {
  std::cout << outcome.link << '\n';
  if (outcome.picker) {
    std::cout << "  → the user must choose:\n";
    for (const std::string& row : rows) std::cout << "    " << row << '\n';
    for (const std::string& trace : outcome.trace) std::cout << "    " << trace << '\n';
    std::cout << "  picker request: " << Json::encodeCompact(*outcome.picker) << '\n';
    return;
  }
  std::string line = "  → " + outcome.status;
  if (outcome.target) line += (outcome.status == "failed" ? " to open in " : " in ") + *outcome.target;
  if (outcome.reason) line += ": " + *outcome.reason;
  std::cout << line << '\n';
  for (const std::string& trace : outcome.trace) std::cout << "    " << trace << '\n';
  if (outcome.error) std::cout << "  error: " << *outcome.error << '\n';
}

JsonValue toJson(const Outcome& outcome) {
  JsonValue json = {{"url", outcome.link}, {"status", outcome.status}, {"trace", outcome.trace}};
  if (outcome.target) json["target"] = *outcome.target;
  if (outcome.reason) json["reason"] = *outcome.reason;
  if (outcome.picker) json["picker"] = *outcome.picker;
  if (outcome.error) json["error"] = *outcome.error;
  return json;
}

int runOpen(const OpenArguments& arguments) {
  std::vector<URL> links;
  for (const std::string& text : arguments.links) {
    std::optional<URL> url = URL::parse(text);
    if (!url || !url->scheme()) throw InputError("not a link with a scheme: " + text);
    links.push_back(*url);
  }
  RouterLoader::Options options;
  options.environment = Process::currentEnvironment();
  options.home = Files::home();
  RouterLoader::Loaded loaded = RouterLoader::load(options);
  for (const std::string& problem : loaded.problems) printError(problem);
  if (arguments.dryRun) {
    AppSettings settings = *loaded.router->state().settings;
    settings.dryRun = true;
    loaded.router->setSettings(std::make_shared<const AppSettings>(std::move(settings)));
  }
  const std::shared_ptr<const BrowserCatalog> catalog = loaded.router->state().catalog;
  const bool terminal = isatty(STDIN_FILENO) == 1;
  // Without a terminal, the picker window when a display is at hand.
  const std::optional<std::string> pickerWindow =
      terminal ? std::nullopt : PickerWindow::program(options.environment);
  // The app the links were clicked in: as given, else the first ancestor of this process that
  // belongs to an installed desktop entry; unknown stays absent.
  std::optional<std::string> sourceApp = arguments.sourceApp;
  if (!sourceApp) {
    if (auto found =
            AncestrySourceAppFinder::forThisProcess(options.home, options.environment).sourceApp()) {
      sourceApp = found->id;
    }
  }

  int exitCode = kSuccess;
  JsonValue results = JsonValue::array();
  for (const URL& url : links) {
    const auto [context, sourceWindow] = LinuxContext::click(
        options.home, options.environment, *catalog, *loaded.router->state().settings);
    const LinkRequest request(url, sourceApp, sourceWindow, context.now);
    const RouterResult result = loaded.router->handle(request, context, arguments.pick,
                                                      ClickOverride::none());
    Outcome outcome{url.absoluteString(), "", {}, {}, {}, {}, {}};
    if (const auto* opened = result.asOpened()) {
      outcome.status = "opened";
      if (auto target = opened->target.browserTarget()) {
        outcome.target = TargetLabel::text(*target, *catalog);
      } else if (const auto* app = std::get_if<RouteTarget::OpenInApp>(&opened->target.value())) {
        outcome.target = app->bundleID;
      } else if (const auto* link = std::get_if<RouteTarget::OpenLink>(&opened->target.value())) {
        outcome.target = link->bundleID + " (" + link->url.absoluteString() + ")";
      }
      outcome.reason = opened->reason.detail;
    } else if (result.asIgnored()) {
      outcome.status = "ignored";
    } else {
      const PickerRequest& picker = result.asPick()->request;
      if (terminal) {
        pickOnTerminal(picker, loaded, *catalog, outcome);
        if (outcome.status == "failed") exitCode = worst(exitCode, kInternalError);
      } else if (pickerWindow &&
                 pickInWindow(*pickerWindow, picker, loaded, *catalog, outcome)) {
        if (outcome.status == "failed") exitCode = worst(exitCode, kInternalError);
      } else {
        outcome.status = "pick";
        outcome.picker = picker.toJson(catalog.get());
        exitCode = worst(exitCode, kMustChoose);
      }
    }
    outcome.trace = traceOf(*loaded.log, result.id());
    if (arguments.json) {
      results.push_back(toJson(outcome));
    } else {
      print(outcome, outcome.picker ? TerminalPicker::rows(result.asPick()->request, *catalog)
                                    : std::vector<std::string>{});
    }
  }
  if (arguments.json) printJson(results);
  return exitCode;
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
  return [arguments] { return runOpen(*arguments); };
});

}  // namespace

}  // namespace linkferry::cli
