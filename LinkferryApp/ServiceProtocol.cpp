#include "ServiceProtocol.h"

#include <unistd.h>

#include <exception>
#include <optional>
#include <utility>

#include "ClickRouting.h"
#include "PickerWindow.h"
#include "foundation/Dates.h"
#include "foundation/URL.h"
#include "launching/DetachedLaunchRunner.h"
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

// The user's answer to `picker` from a "choose" request, or a refusal when its index names no
// candidate. "scope" names one of the window's scopes ("pattern" with its edited "pattern");
// "remember": true is the terminal's domain.
std::optional<PickerChoice> choiceFrom(const JsonReader& request, const PickerRequest& picker) {
  const std::int64_t index = request["index"].integer();
  if (index < 0 || static_cast<std::size_t>(index) >= picker.candidates.size()) return std::nullopt;
  PickerChoice choice;
  choice.cancel = false;
  choice.index = static_cast<std::size_t>(index);
  if (auto scope = request.optional("scope")) {
    std::optional<std::string> pattern;
    if (auto text = request.optional("pattern")) pattern = text->string();
    choice.remember = PickerWindow::scope(picker, scope->string(), pattern);
  } else if (flag(request, "remember")) {
    choice.remember = RememberScope::domain();
  }
  if (auto duration = request.optional("duration")) {
    choice.duration = RememberDuration::fromJson(*duration);
  }
  choice.privateMode = flag(request, "privateMode");
  return choice;
}

}  // namespace

ServiceProtocol::ServiceProtocol(Environment environment, const std::filesystem::path& home,
                                 const RouterLoader::Loaded& loaded,
                                 std::shared_ptr<Router> dryRouter, ServiceReloader& reloader)
    : m_environment(std::move(environment)),
      m_loaded(loaded),
      m_dryRouter(std::move(dryRouter)),
      m_reloader(reloader),
      m_context(home) {}

JsonValue ServiceProtocol::answer(const std::string& line, int peerPid) {
  const JsonValue parsed = JsonValue::parse(line, nullptr, false);
  if (parsed.is_discarded()) return failure("the request is not JSON");
  try {
    const JsonReader request(parsed, "request");
    if (!request.isObject()) return failure("the request is not a JSON object");
    const std::string kind = request["request"].string();
    if (kind == "click") return click(request, peerPid);
    if (kind == "choose") return pickerAnswer(request, true);
    if (kind == "cancel") return pickerAnswer(request, false);
    if (kind == "index") return index();
    if (kind == "status") return status();
    return failure("unknown request \"" + kind + "\"");
  } catch (const std::exception& error) {
    return failure(error.what());
  }
}

// {"request": "click", "url", "pick", "dryRun", "sourceApp", "environment"}: routes the link as
// `linkferry open` would in its own process.
JsonValue ServiceProtocol::click(const JsonReader& request, int peerPid) {
  const std::string text = request["url"].string();
  const std::optional<URL> url = URL::parse(text);
  if (!url || !url->scheme()) return failure("not a link with a scheme: " + text);
  const bool dryRun = flag(request, "dryRun");
  const Environment clickEnvironment = clickEnvironmentOf(request);
  m_reloader.reloadChangedFiles();
  const ServiceReloader::DesktopApps apps = m_reloader.desktopApps();
  const std::optional<std::string> sourceApp = sourceAppOf(request, peerPid, apps);

  Environment contextEnvironment = m_environment;
  for (const auto& [name, value] : clickEnvironment) contextEnvironment[name] = value;
  Router& router = routerFor(dryRun);
  const RouterState state = router.state();
  const auto [context, sourceWindow] =
      m_context.click(contextEnvironment, *apps.installedApps, *state.catalog, *state.settings);
  const LinkRequest linkRequest(*url, sourceApp, sourceWindow, context.now);
  const DetachedLaunchRunner::ClickEnvironment scope(clickEnvironment);
  std::optional<PickerRequest> picker;
  const ClickOutcome outcome = ClickRouting::route(router, *m_loaded.log, linkRequest, context,
                                                   flag(request, "pick"), &picker);
  if (picker) keepPending(*picker, dryRun);
  return {{"ok", true}, {"outcome", outcome.toJson()}};
}

// {"request": "choose", "id", "index", "scope", "pattern", "remember", "duration",
// "privateMode", "environment"} or {"request": "cancel", "id", "environment"}: the user's answer
// to a picker this service asked for.
JsonValue ServiceProtocol::pickerAnswer(const JsonReader& request, bool choose) {
  const std::string id = request["id"].string();
  std::optional<Pending> pending = takePending(id);
  if (!pending) return failure("no picker is waiting for " + id);
  PickerChoice answer;
  if (choose) {
    std::optional<PickerChoice> chosen = choiceFrom(request, pending->request);
    if (!chosen) {
      const std::string index = std::to_string(request["index"].integer());
      keepPending(pending->request, pending->dryRun);
      return failure("no candidate " + index + " for " + id);
    }
    answer = std::move(*chosen);
  }
  const DetachedLaunchRunner::ClickEnvironment scope(clickEnvironmentOf(request));
  const ClickOutcome outcome =
      ClickRouting::answer(routerFor(pending->dryRun), *m_loaded.log, pending->request, answer);
  return {{"ok", true}, {"outcome", outcome.toJson()}};
}

JsonValue ServiceProtocol::index() {
  return {{"ok", true}, {"index", m_loaded.router->state().index->toJson()}};
}

JsonValue ServiceProtocol::status() {
  JsonValue problems = JsonValue::array();
  for (const std::string& problem : m_reloader.problems()) problems.push_back(problem);
  return {{"ok", true},
          {"pid", ::getpid()},
          {"dataFolder", m_loaded.paths.root.string()},
          {"problems", problems},
          {"indexBuiltAt", RFC3339::formatUTC(m_loaded.router->state().index->builtAt)}};
}

// The app named by the request, else the one the client process belongs to.
std::optional<std::string> ServiceProtocol::sourceAppOf(
    const JsonReader& request, int peerPid, const ServiceReloader::DesktopApps& apps) const {
  if (auto given = request.optional("sourceApp")) return given->string();
  if (peerPid > 0 && apps.sourceApps) {
    if (auto found = apps.sourceApps->sourceAppOf(peerPid)) return found->id;
  }
  return std::nullopt;
}

void ServiceProtocol::keepPending(const PickerRequest& picker, bool dryRun) {
  std::lock_guard lock(m_pendingMutex);
  m_pending.emplace_back(picker.id.string(), Pending{picker, dryRun});
  if (m_pending.size() > kMaxPending) m_pending.pop_front();
}

std::optional<ServiceProtocol::Pending> ServiceProtocol::takePending(const std::string& id) {
  std::lock_guard lock(m_pendingMutex);
  for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
    if (it->first == id) {
      Pending pending = std::move(it->second);
      m_pending.erase(it);
      return pending;
    }
  }
  return std::nullopt;
}

}  // namespace linkferry
