#include "ClickHandler.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <utility>

#include "ClickNotice.h"
#include "DesktopNotifications.h"
#include "PickerWindow.h"
#include "TerminalPicker.h"
#include "browsers/DesktopEntries.h"
#include "foundation/DisplayText.h"
#include "foundation/Text.h"
#include "launching/DetachedLaunchRunner.h"
#include "preparation/AppLinks.h"
#include "rules/TargetLabel.h"
#include "safety/LinkSafety.h"

namespace linkferry {

std::optional<std::string> ClickHandler::refusal(const URL& url) {
  const std::string scheme = Text::lowercased(url.scheme().value_or(""));
  if (scheme == "javascript" || scheme == "vbscript" || scheme == "data") {
    return "refused, a " + scheme + ": link is never opened: " +
           DisplayText::escaped(url.absoluteString());
  }
  if ((scheme == "http" || scheme == "https") && !url.host()) {
    return "refused, a web link without a host: " + DisplayText::escaped(url.absoluteString());
  }
  return std::nullopt;
}

ClickHandler::ClickHandler(std::shared_ptr<Router> router, std::filesystem::path home,
                           Environment environment)
    : m_router(std::move(router)),
      m_home(std::move(home)),
      m_environment(std::move(environment)),
      m_context(m_home) {
  reloadDesktopEntries();
}

void ClickHandler::reloadDesktopEntries() {
  std::vector<DesktopEntry> entries =
      DesktopEntries::load(DesktopEntries::applicationDirectories(m_home, m_environment));
  auto installedApps =
      std::make_shared<const std::set<std::string>>(AppLinks::linuxInstalledApps(entries));
  auto sourceApps = std::make_shared<const AncestrySourceAppFinder>(
      AncestrySourceAppFinder::forEntries(std::move(entries), m_environment, 0));
  std::lock_guard lock(m_mutex);
  m_installedApps = std::move(installedApps);
  m_sourceApps = std::move(sourceApps);
}

ClickOutcome ClickHandler::route(const Click& click, const Answer& early) {
  try {
    if (std::optional<std::string> refused = refusal(click.url)) {
      return ClickOutcome::failed(click.url.absoluteString(), *refused);
    }
    std::shared_ptr<const AncestrySourceAppFinder> sourceApps;
    std::shared_ptr<const std::set<std::string>> installedApps;
    {
      std::lock_guard lock(m_mutex);
      sourceApps = m_sourceApps;
      installedApps = m_installedApps;
    }
    std::optional<std::string> sourceApp = click.sourceApp;
    if (!sourceApp && click.clientPid > 0) {
      if (auto found = sourceApps->sourceAppOf(click.clientPid)) sourceApp = found->id;
    }
    Environment contextEnvironment = m_environment;
    for (const auto& [name, value] : click.environment) contextEnvironment[name] = value;
    const std::shared_ptr<const Router::Snapshot> snapshot = m_router->snapshot();
    const auto [context, sourceWindow] = m_context.click(
        contextEnvironment, *installedApps, *snapshot->state.catalog, *snapshot->state.settings);

    const LinkRequest request(click.url, sourceApp, sourceWindow, context.now);
    const DetachedLaunchRunner::ClickEnvironment launchEnvironment(click.environment);
    bool answeredEarly = false;
    Router::Started started;
    if (early) {
      started = [&](const RouterResult& opened, const std::vector<std::string>& trace) {
        ClickOutcome outcome = outcomeOf(opened, click.url, snapshot->state, &trace);
        answeredEarly = true;
        early(outcome);
      };
    }
    const RouterResult result = m_router->handle(request, context, click.pick,
                                                 ClickOverride::none(), click.dryRun, started);
    ClickOutcome outcome = outcomeOf(result, click.url, m_router->snapshot()->state);
    noteLogProblem(outcome);
    if (const RouterResult::Pick* pick = result.asPick()) {
      if (answeredEarly) {
        notify(outcome, click.environment, pick->request.note.value_or("the launch failed"));
      }
      std::lock_guard lock(m_mutex);
      m_pending.push_back(Pending{pick->request, click.dryRun});
      if (m_pending.size() > kMaxPending) m_pending.pop_front();
    } else if (click.unattended) {
      notify(outcome, click.environment);
    }
    return outcome;
  } catch (const std::exception& error) {
    return ClickOutcome::failed(click.url.absoluteString(), error.what());
  }
}

ClickOutcome ClickHandler::answer(const PickerAnswer& answer, const Environment& environment,
                                  const Answer& early) {
  std::optional<Pending> pending;
  {
    std::lock_guard lock(m_mutex);
    const auto found = std::find_if(m_pending.begin(), m_pending.end(), [&](const Pending& p) {
      return p.request.id.string() == answer.id;
    });
    if (found == m_pending.end()) {
      throw std::invalid_argument("no picker is waiting for " + answer.id);
    }
    if (!answer.cancel && answer.index >= found->request.candidates.size()) {
      throw std::invalid_argument("no candidate " + std::to_string(answer.index) + " for " +
                                  answer.id);
    }
    pending = std::move(*found);
    m_pending.erase(found);
  }
  const PickerRequest& request = pending->request;
  ClickOutcome outcome;
  outcome.link = request.url.absoluteString();
  bool answeredEarly = false;
  const DetachedLaunchRunner::ClickEnvironment launchEnvironment(environment);
  if (answer.cancel) {
    m_router->cancel(request.id, std::nullopt);
    outcome.status = "cancelled";
  } else if (answer.unasked && LinkSafety::worst(request.safety) ==
                                    LinkSafety::Finding::Severity::danger) {
    // A link the safety check warns of opens only after a person has seen the warning and chosen:
    // with nobody to ask it is not opened, and the log and the notice say so.
    m_router->cancel(request.id, "[unasked] " + *answer.unasked + ": " +
                                     Router::kUnconfirmedDangerReason);
    outcome.status = "cancelled";
    outcome.reason = Router::kUnconfirmedDangerReason;
  } else if (answer.unasked) {
    std::function<void(const std::vector<std::string>&)> started;
    if (early) {
      started = [&](const std::vector<std::string>& lines) {
        ClickOutcome opened = outcome;
        opened.status = "opened";
        opened.reason = Router::kUnaskedReason;
        opened.trace = traceOf(request.id);
        opened.trace.insert(opened.trace.end(), lines.begin(), lines.end());
        answeredEarly = true;
        early(opened);
      };
    }
    try {
      const BrowserTarget opened =
          m_router->openUnasked(request.id, request.url, request.candidates, answer.index,
                                *answer.unasked, pending->dryRun, started);
      outcome.status = "opened";
      outcome.target = TargetLabel::text(opened, *m_router->snapshot()->state.catalog);
      outcome.reason = Router::kUnaskedReason;
    } catch (const std::exception& error) {
      outcome.status = "failed";
      outcome.error = error.what();
    }
  } else {
    const BrowserTarget& target = request.candidates[answer.index].target;
    BrowserTarget opened = target;
    opened.privateMode = opened.privateMode || answer.privateMode;
    outcome.target = TargetLabel::text(opened, *m_router->snapshot()->state.catalog);
    std::function<void(const std::vector<std::string>&)> started;
    if (early) {
      started = [&](const std::vector<std::string>& lines) {
        ClickOutcome picked = outcome;
        picked.status = "picked";
        picked.trace = traceOf(request.id);
        picked.trace.insert(picked.trace.end(), lines.begin(), lines.end());
        answeredEarly = true;
        early(picked);
      };
    }
    try {
      m_router->choose(request.id, request.url, target, answer.rememberScope(request),
                       answer.privateMode, std::nullopt, answer.duration, Date::now(),
                       pending->dryRun, started);
      outcome.status = "picked";
    } catch (const std::exception& error) {
      outcome.status = "failed";
      outcome.error = error.what();
    }
  }
  outcome.trace = traceOf(request.id);
  noteLogProblem(outcome);
  // A failure after the early answer went out is seen by nobody else.
  if (answer.unattended || (answeredEarly && outcome.status == "failed")) {
    notify(outcome, environment);
  }
  return outcome;
}

std::optional<PickerRequest> ClickHandler::waiting(const std::string& id) const {
  std::lock_guard lock(m_mutex);
  for (const Pending& pending : m_pending) {
    if (pending.request.id.string() == id) return pending.request;
  }
  return std::nullopt;
}

ClickOutcome ClickHandler::outcomeOf(const RouterResult& result, const URL& link,
                                     const RouterState& state,
                                     const std::vector<std::string>* trace) const {
  const BrowserCatalog& catalog = *state.catalog;
  ClickOutcome outcome;
  outcome.link = link.absoluteString();
  if (const RouterResult::Opened* opened = result.asOpened()) {
    outcome.status = "opened";
    outcome.target = TargetLabel::text(opened->target, catalog);
    outcome.reason = opened->reason.detail;
  } else if (result.asIgnored()) {
    outcome.status = "ignored";
  } else {
    const PickerRequest& request = result.asPick()->request;
    outcome.status = "pick";
    outcome.picker = request.toJson(&catalog);
    outcome.rows = TerminalPicker::rows(request, catalog);
  }
  outcome.trace = trace ? *trace : traceOf(result.id());
  if (const RouterResult::Pick* pick = result.asPick()) {
    // The window's whole input, so the process that shows it loads nothing. `linkferry-open`
    // hands the outcome over as one argument; where it would not fit there, the input is left
    // out and that process reads the files for it instead.
    outcome.pickerInput = PickerWindow::input(pick->request, catalog, *state.settings).toJson();
    if (Json::encodeCompact(outcome.toJson()).size() > kMaxHandedOverOutcome) {
      outcome.pickerInput.reset();
    }
  }
  return outcome;
}

std::vector<std::string> ClickHandler::traceOf(const Uuid& id) const {
  if (std::optional<LogEntry> entry = m_router->log()->entry(id)) return entry->trace;
  return {};
}

void ClickHandler::notify(const ClickOutcome& outcome, const Environment& environment,
                          const std::optional<std::string>& lateFailure) const {
  if (!m_router->snapshot()->state.settings->desktopNotifications) return;
  const std::optional<ClickNotice::Notice> notice = ClickNotice::of(outcome, lateFailure);
  if (!notice) return;
  Environment session = m_environment;
  for (const auto& [name, value] : environment) session[name] = value;
  DesktopNotifications::show(notice->summary, notice->body, session);
}

void ClickHandler::noteLogProblem(ClickOutcome& outcome) const {
  if (std::optional<std::string> problem = m_router->log()->lastError()) {
    outcome.logError = *problem;
  }
}

}  // namespace linkferry
