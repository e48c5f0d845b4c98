// `linkferry open LINK-OR-PATH… [--dry-run] [--pick] [--source-app ID] [--json]
// [--start-service]`: routes each link (for a file's path, its `file:` link) as a click would and
// opens it. The links go to `linkferry serve` when it answers on its socket, and are routed in
// this process otherwise, with the same result. When the user must choose and standard input is a
// terminal, the candidates are listed and the typed answer is carried back to the router; without
// a terminal but with a display the picker window (linkferry-picker) asks instead. When nobody can
// be asked (no terminal, and no display or a picker window that fails), the link opens in the
// best candidate that starts and its log entry says why; only a --json caller gets the picker
// request instead (the result's "picker") and exit status 3, the log entry left pending.
// Without a terminal, what went wrong with a click (ClickNotice) is told as a desktop
// notification; on a terminal it is one line on standard error.
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ClickHandler.h"
#include "ClickNotice.h"
#include "Command.h"
#include "PickerAnswer.h"
#include "PickerWindow.h"
#include "ProgramIdentity.h"
#include "RouterLoader.h"
#include "ServiceClient.h"
#include "TerminalPicker.h"
#include "foundation/DisplayText.h"
#include "foundation/Files.h"
#include "foundation/Json.h"
#include "foundation/Process.h"
#include "foundation/Text.h"
#include "foundation/URL.h"
#include "launching/LaunchEnvironment.h"

namespace linkferry::cli {

namespace {

using Environment = std::map<std::string, std::string>;

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

// Where this run's links are routed: the service or this process. `answer` carries the user's
// answer to a picker back there; `labels` gives the catalog and settings the window shows the
// choices with, when the outcome does not carry the window's input already.
struct ClickPath {
  std::function<ClickOutcome(const URL&)> route;
  std::function<ClickOutcome(const PickerAnswer&)> answer;
  std::function<RouterState()> labels;
  Environment environment;
  // No terminal shows the outcome (see Click::unattended).
  bool unattended = false;
};

// Whether a person at a terminal sees this command's output and answers its questions.
bool onTerminal() { return isatty(STDIN_FILENO) == 1; }

// The answer typed on the terminal; nothing when standard input is no terminal.
std::optional<PickerAnswer> askOnTerminal(const ClickOutcome& outcome,
                                          const PickerRequest& request) {
  // The link, the findings, the note and the rows carry outside text: shown escaped, never as
  // controls.
  for (const std::string& line : TerminalPicker::header(request)) {
    std::cout << DisplayText::escaped(line) << '\n';
  }
  for (const std::string& row : outcome.rows) std::cout << "  " << DisplayText::escaped(row) << '\n';
  for (;;) {
    std::cout << "Number to open, r+number to remember for this domain, p+number for a private "
                 "window, empty to cancel: "
              << std::flush;
    std::string line;
    if (!std::getline(std::cin, line)) line.clear();
    const TerminalPicker::Answer answer = TerminalPicker::parse(line, outcome.rows.size());
    if (answer.kind != TerminalPicker::Answer::Kind::invalid) {
      return PickerAnswer::from(request.id.string(), answer);
    }
    std::cout << "No such row.\n";
  }
}

// The user's answer to a "pick" outcome, from the terminal or else the picker window; nothing
// when nobody could be asked, with why in `nobody` (a window that fails is reported too).
std::optional<PickerAnswer> ask(const ClickOutcome& outcome, const ClickPath& path,
                                std::string& nobody) {
  if (!outcome.picker) return std::nullopt;
  const PickerRequest request =
      PickerRequest::fromJson(JsonReader(*outcome.picker, "the click's outcome", "picker"));
  if (onTerminal()) return askOnTerminal(outcome, request);
  const std::optional<std::string> program = PickerWindow::program(path.environment);
  if (!program) {
    const bool display = path.environment.contains("DISPLAY") ||
                         path.environment.contains("WAYLAND_DISPLAY");
    nobody = display ? "no terminal, and the picker window program is missing"
                     : "no terminal and no display to show the picker on";
    return std::nullopt;
  }
  PickerWindow::Result result;
  if (outcome.pickerInput) {
    // Made by the service: nothing to load here before the window shows.
    result = PickerWindow::show(
        *program, PickerProtocol::Input::fromJson(
                      JsonReader(*outcome.pickerInput, "the click's outcome", "pickerInput")));
  } else {
    const RouterState state = path.labels();
    result = PickerWindow::show(*program, request, *state.catalog, *state.settings);
  }
  if (result.kind == PickerWindow::Result::Kind::failed) {
    printError(result.error);
    nobody = "no terminal, and the picker window failed: " + result.error;
    return std::nullopt;
  }
  return PickerAnswer::from(request.id.string(), result);
}

// The answer that stands in for a person nobody could ask: the best candidate, for `why`.
// Nothing when there is no candidate to open.
std::optional<PickerAnswer> unasked(const ClickOutcome& outcome, const std::string& why) {
  if (!outcome.picker) return std::nullopt;
  const PickerRequest request =
      PickerRequest::fromJson(JsonReader(*outcome.picker, "the click's outcome", "picker"));
  if (request.candidates.empty()) return std::nullopt;
  return PickerAnswer::unaskedFor(request.id.string(), why);
}

// Routes every link on `path`, asks the user where a link needs a choice, and prints each result
// as it comes (or all as one JSON array at the end).
int openAll(const std::vector<URL>& links, const ClickPath& path, bool json) {
  int exitCode = kSuccess;
  JsonValue results = JsonValue::array();
  for (const URL& url : links) {
    ClickOutcome outcome;
    try {
      outcome = path.route(url);
      if (outcome.status == "pick") {
        std::string nobody;
        std::optional<PickerAnswer> answer = ask(outcome, path, nobody);
        // A script that asked for JSON decides itself what to do with the request.
        if (!answer && !json && !nobody.empty()) answer = unasked(outcome, nobody);
        if (answer) outcome = path.answer(*answer);
      }
    } catch (const std::exception& error) {
      outcome = ClickOutcome::failed(url.absoluteString(), error.what());
    }
    // Unattended clicks were told as a desktop notification where they were routed.
    if (!json && !path.unattended) {
      if (std::optional<ClickNotice::Notice> notice = ClickNotice::of(outcome)) {
        printError(ClickNotice::line(*notice));
      }
    }
    exitCode = worst(exitCode, outcome.exitStatus());
    if (json) {
      results.push_back(outcome.toJson());
    } else {
      std::cout << outcome.text() << std::flush;
    }
  }
  if (json) printJson(results);
  return exitCode;
}

// The router's catalog and settings for the window's labels, read only when a person must
// choose and the service's outcome did not bring the window's input (no browser data).
RouterState labelsFromFiles(const Environment& environment) {
  RouterLoader::Options options;
  options.environment = environment;
  options.home = Files::home();
  options.network = false;
  options.readSignals = false;
  return RouterLoader::load(options).router->state();
}

int openThroughService(ServiceClient::Connection& connection, const std::vector<URL>& links,
                       const OpenArguments& arguments, const Environment& environment) {
  ClickPath path;
  path.route = [&](const URL& url) {
    if (arguments.servicePicker) {
      return ClickOutcome::fromJson(JsonReader(
          Json::parse(*arguments.servicePicker, "--service-picker"), "--service-picker"));
    }
    JsonValue request = ServiceClient::clickRequest(url.absoluteString(), arguments.pick,
                                                    arguments.dryRun, arguments.sourceApp,
                                                    environment);
    if (path.unattended) request["unattended"] = true;
    return ClickOutcome::fromServiceAnswer(
        connection.exchange(request, ServiceClient::kClickTimeout));
  };
  path.answer = [&](const PickerAnswer& answer) {
    JsonValue reply = answer.toJson();
    reply["environment"] = ServiceClient::clickEnvironment(environment);
    // The user may have taken longer than the service keeps a silent connection open.
    std::optional<ServiceClient::Connection> fresh = ServiceClient::Connection::open(environment);
    if (!fresh) throw std::runtime_error("the service went away before the answer");
    return ClickOutcome::fromServiceAnswer(fresh->exchange(reply, ServiceClient::kClickTimeout));
  };
  path.labels = [&] { return labelsFromFiles(environment); };
  path.environment = environment;
  path.unattended = !onTerminal() && !arguments.json;
  return openAll(links, path, arguments.json);
}

int openInProcess(const std::vector<URL>& links, const OpenArguments& arguments,
                  const Environment& environment) {
  RouterLoader::Options options;
  options.environment = environment;
  options.home = Files::home();
  // One click and gone: nothing is read before it is needed.
  options.deferLoading = true;
  const RouterLoader::Loaded loaded = RouterLoader::load(options);
  for (const std::string& problem : loaded.problems) printError(problem);
  ClickHandler clicks(loaded.router, options.home, environment);

  ClickPath path;
  path.unattended = !onTerminal() && !arguments.json;
  path.route = [&](const URL& url) {
    return clicks.route(Click{.url = url,
                              .sourceApp = arguments.sourceApp,
                              .clientPid = static_cast<int>(::getpid()),
                              .environment = environment,
                              .pick = arguments.pick,
                              .dryRun = arguments.dryRun,
                              .unattended = path.unattended});
  };
  path.answer = [&](const PickerAnswer& answer) { return clicks.answer(answer, environment); };
  path.labels = [&] { return loaded.router->state(); };
  path.environment = environment;
  return openAll(links, path, arguments.json);
}

// Starts `linkferry serve` for the next clicks, detached; it stops by itself when idle. Where the
// service manager owns the socket this never runs: the socket always answers there.
void startService(const Environment& environment) {
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

// The link a command-line word stands for. A word without a scheme is a file's path, made
// absolute against this process's working folder (the service's is another) and turned into its
// `file:` link, as the desktop hands a local page to its browser. A path or a local `file:` link
// to nothing is refused, as is a link no click may open (ClickHandler::refusal).
URL linkOf(const std::string& text) {
  std::optional<URL> url = URL::parse(text);
  if (!url || !url->scheme()) {
    if (text.empty()) throw InputError("not a link with a scheme: " + text);
    std::error_code error;
    const std::filesystem::path path = std::filesystem::absolute(text, error).lexically_normal();
    if (error || !std::filesystem::exists(path, error)) {
      // A text that starts like a link is one the user mistyped, not a file's path.
      if (std::optional<std::string> problem = URL::parseProblem(text)) {
        throw InputError("not a link: " + *problem + ": " + DisplayText::escaped(text));
      }
      throw InputError("no such file: " + DisplayText::escaped(error ? text : path.string()));
    }
    const std::optional<std::string> link = URL::fileLink(path.string());
    url = link ? URL::parse(*link) : std::nullopt;
    if (!url) throw InputError("not a link with a scheme: " + DisplayText::escaped(text));
    return *url;
  }
  if (std::optional<std::string> refused = ClickHandler::refusal(*url)) throw InputError(*refused);
  if (Text::lowercased(*url->scheme()) == "file") {
    const std::string host = Text::lowercased(url->host().value_or(""));
    const std::string path = url->path();
    if (host.empty() || host == "localhost") {
      if (!path.starts_with("/")) {
        throw InputError("not a file link with an absolute path: " + DisplayText::escaped(text));
      }
      std::error_code error;
      if (!std::filesystem::exists(path, error)) {
        throw InputError("no such file: " + DisplayText::escaped(path));
      }
    }
  }
  return *url;
}

int runOpen(const OpenArguments& arguments) {
  std::vector<URL> links;
  for (const std::string& text : arguments.links) links.push_back(linkOf(text));
  if (arguments.servicePicker && links.size() != 1) {
    throw InputError("--service-picker goes with exactly one link");
  }
  const Environment environment = Process::currentEnvironment();
  // The service first, before anything heavy is loaded here; it must serve this data folder, and
  // one of another build or version is replaced by this program's.
  if (auto connection = ServiceClient::openCurrent(
          environment, Files::home(), ProgramIdentity::current(),
          [&] { startService(environment); },
          [](const std::string& notice) { printError(notice); })) {
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
