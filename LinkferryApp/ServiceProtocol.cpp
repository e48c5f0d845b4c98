#include "ServiceProtocol.h"

#include <unistd.h>

#include <exception>
#include <iostream>
#include <mutex>
#include <optional>
#include <utility>

#include "PickerAnswer.h"
#include "foundation/Dates.h"
#include "foundation/URL.h"
#include "launching/LaunchEnvironment.h"

namespace linkferry {

namespace {

JsonValue failure(const std::string& message) {
  return {{"ok", false}, {"error", message}};
}

// The click's own variables from a request: only those of focus and display cross over.
std::map<std::string, std::string> clickEnvironmentOf(const JsonReader& request) {
  std::map<std::string, std::string> environment;
  if (auto given = request.optional("environment")) {
    for (const auto* names :
         {&LaunchEnvironment::focusVariables(), &LaunchEnvironment::displayVariables()}) {
      for (std::string_view name : *names) {
        if (auto value = given->optional(name)) environment[std::string(name)] = value->string();
      }
    }
  }
  return environment;
}

bool flag(const JsonReader& request, std::string_view key) {
  return request.has(key) && request[key].boolean();
}

void logLine(const std::string& line) {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  std::cerr << "linkferry serve: " << line << std::endl;
}

JsonValue answered(const ClickOutcome& outcome) {
  if (outcome.logError) logLine("a click was not logged: " + *outcome.logError);
  return {{"ok", true}, {"outcome", outcome.toJson()}};
}

// The click handler's early answer, sent through the server's.
ClickHandler::Answer earlyAnswer(const ServiceServer::Reply& early) {
  if (!early) return {};
  return [&early](const ClickOutcome& outcome) { early(answered(outcome)); };
}

}  // namespace

ServiceProtocol::ServiceProtocol(const RouterLoader::Loaded& loaded, ClickHandler& clicks,
                                 ServiceReloader& reloader, WarmPicker* warmPicker, Process process)
    : m_loaded(loaded),
      m_clicks(clicks),
      m_reloader(reloader),
      m_warmPicker(warmPicker),
      m_process(std::move(process)) {}

JsonValue ServiceProtocol::answer(const std::string& line, int peerPid,
                                  const ServiceServer::Reply& early) {
  const JsonValue parsed = JsonValue::parse(line, nullptr, false);
  if (parsed.is_discarded()) return failure("the request is not JSON");
  try {
    const JsonReader request(parsed, "request");
    if (!request.isObject()) return failure("the request is not a JSON object");
    const std::string kind = request["request"].string();
    if (kind == "click") return click(request, peerPid, early);
    if (kind == "choose" || kind == "cancel") return pickerAnswer(request, early);
    if (kind == "index") return index();
    if (kind == "status") return status();
    if (kind == "quit" && m_process.quit) return quit(early);
    return failure("unknown request \"" + kind + "\"");
  } catch (const std::exception& error) {
    return failure(error.what());
  }
}

// {"request": "click", "url", "pick", "dryRun", "sourceApp", "environment", "window",
// "unattended"}: routes the link as `linkferry open` would in its own process; the client process
// is where the link was clicked. With "window" the client has no terminal and would show the picker window itself: the
// warm picker may show it instead (showWarm).
JsonValue ServiceProtocol::click(const JsonReader& request, int peerPid,
                                 const ServiceServer::Reply& early) {
  const std::string text = request["url"].string();
  const std::optional<URL> url = URL::parse(text);
  if (!url || !url->scheme()) return failure("not a link with a scheme: " + text);
  if (std::optional<std::string> refused = ClickHandler::refusal(*url)) return failure(*refused);
  m_reloader.reloadChangedFiles();
  Click click{.url = *url, .clientPid = peerPid, .environment = clickEnvironmentOf(request)};
  if (auto given = request.optional("sourceApp")) click.sourceApp = given->string();
  click.pick = flag(request, "pick");
  click.dryRun = flag(request, "dryRun");
  // A client without a terminal ("window") shows nothing of what went wrong: a notification does.
  click.unattended = flag(request, "window") || flag(request, "unattended");
  ClickOutcome outcome = m_clicks.route(click, earlyAnswer(early));
  if (outcome.status == "pick" && flag(request, "window")) {
    outcome = showWarm(std::move(outcome), click.environment, early);
  }
  return answered(outcome);
}

ClickOutcome ServiceProtocol::showWarm(ClickOutcome pick,
                                       const std::map<std::string, std::string>& environment,
                                       const ServiceServer::Reply& early) {
  if (!m_warmPicker || !pick.pickerInput || !m_warmPicker->servesDisplayOf(environment)) {
    return pick;
  }
  std::optional<PickerProtocol::Input> read;
  try {
    read = PickerProtocol::Input::fromJson(
        JsonReader(*pick.pickerInput, "the click's outcome", "pickerInput"));
  } catch (const std::exception& error) {
    logLine(error.what());
    return pick;
  }
  const PickerProtocol::Input& input = *read;
  const WarmPicker::Shown shown = m_warmPicker->show(input, environment);
  if (shown.kind != WarmPicker::Shown::Kind::answered) return pick;
  const PickerWindow::Result result =
      PickerWindow::resultOf("the warm picker", input.request, shown.answer);
  if (result.kind == PickerWindow::Result::Kind::failed) {
    logLine(result.error);
    return pick;
  }
  try {
    return m_clicks.answer(PickerAnswer::from(input.request.id.string(), result), environment,
                           earlyAnswer(early));
  } catch (const std::exception& error) {
    // The click was routed and its window answered: the client must not route it again.
    return ClickOutcome::failed(pick.link, error.what());
  }
}

// {"request": "choose", "id", "index", "scope", "pattern", "remember", "duration",
// "privateMode", "environment"} or {"request": "cancel", "id", "environment"}: the user's answer
// to a picker this service asked for (PickerAnswer).
JsonValue ServiceProtocol::pickerAnswer(const JsonReader& request,
                                        const ServiceServer::Reply& early) {
  return answered(m_clicks.answer(PickerAnswer::fromJson(request), clickEnvironmentOf(request),
                                  earlyAnswer(early)));
}

JsonValue ServiceProtocol::index() {
  return {{"ok", true}, {"index", m_loaded.router->state().index->toJson()}};
}

// With the build that answers ("version", "program", "buildId"), so that a client of another
// build can tell and have this service replaced by its own, and whether the service manager
// holds the socket ("socketActivated": it then starts its own program again).
JsonValue ServiceProtocol::status() {
  JsonValue problems = JsonValue::array();
  for (const std::string& problem : m_reloader.problems()) problems.push_back(problem);
  JsonValue answer = {{"ok", true},
                      {"pid", ::getpid()},
                      {"dataFolder", m_loaded.paths.root.string()},
                      {"problems", problems},
                      {"indexBuiltAt", RFC3339::formatUTC(m_loaded.router->state().index->builtAt)},
                      {"warmPicker", m_warmPicker ? m_warmPicker->status() : JsonValue()},
                      {"socketActivated", m_process.socketActivated}};
  m_identity.addTo(answer);
  return answer;
}

// {"request": "quit"}: answered first, then the service gives its socket up and ends once the
// clicks under way are answered.
JsonValue ServiceProtocol::quit(const ServiceServer::Reply& early) {
  logLine("asked to quit by a client; finishing the clicks under way");
  const JsonValue answer = {{"ok", true}, {"pid", ::getpid()}};
  if (early) early(answer);
  m_process.quit();
  return answer;
}

}  // namespace linkferry
