#include "ClickRouting.h"

#include <exception>
#include <variant>

#include "rules/RememberScope.h"
#include "rules/TargetLabel.h"

namespace linkferry {

namespace {

std::vector<std::string> traceOf(DecisionLog& log, const Uuid& id) {
  if (std::optional<LogEntry> entry = log.entry(id)) return entry->trace;
  return {};
}

}  // namespace

PickerChoice PickerChoice::from(const TerminalPicker::Answer& answer) {
  PickerChoice choice;
  choice.cancel = answer.kind != TerminalPicker::Answer::Kind::choose;
  choice.index = answer.index;
  choice.privateMode = answer.privateMode;
  if (answer.remember) choice.remember = RememberScope::domain();
  return choice;
}

PickerChoice PickerChoice::from(const PickerWindow::Result& result) {
  PickerChoice choice;
  choice.cancel = result.kind != PickerWindow::Result::Kind::chosen;
  choice.index = result.index;
  choice.privateMode = result.privateMode;
  choice.remember = result.remember;
  choice.duration = result.duration;
  return choice;
}

namespace ClickRouting {

ClickOutcome route(Router& router, DecisionLog& log, const LinkRequest& linkRequest,
                   const RoutingContext& context, bool alwaysPick,
                   std::optional<PickerRequest>* picker) {
  const RouterResult result =
      router.handle(linkRequest, context, alwaysPick, ClickOverride::none());
  const std::shared_ptr<const BrowserCatalog> catalog = router.state().catalog;
  ClickOutcome outcome;
  outcome.link = linkRequest.url.absoluteString();
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
    const PickerRequest& request = result.asPick()->request;
    outcome.status = "pick";
    outcome.picker = request.toJson(catalog.get());
    outcome.rows = TerminalPicker::rows(request, *catalog);
    if (picker) *picker = request;
  }
  outcome.trace = traceOf(log, result.id());
  return outcome;
}

ClickOutcome answer(Router& router, DecisionLog& log, const PickerRequest& request,
                    const PickerChoice& answer) {
  ClickOutcome outcome;
  outcome.link = request.url.absoluteString();
  if (answer.cancel || answer.index >= request.candidates.size()) {
    router.cancel(request.id, std::nullopt);
    outcome.status = "cancelled";
    outcome.trace = traceOf(log, request.id);
    return outcome;
  }
  const BrowserTarget& target = request.candidates[answer.index].target;
  try {
    router.choose(request.id, request.url, target, answer.remember, answer.privateMode,
                  std::nullopt, answer.duration, Date::now());
    outcome.status = "picked";
  } catch (const std::exception& error) {
    outcome.status = "failed";
    outcome.error = error.what();
  }
  BrowserTarget opened = target;
  opened.privateMode = opened.privateMode || answer.privateMode;
  outcome.target = TargetLabel::text(opened, *router.state().catalog);
  outcome.trace = traceOf(log, request.id);
  return outcome;
}

}  // namespace ClickRouting

}  // namespace linkferry
