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

JsonValue ClickOutcome::toJson() const {
  JsonValue json = {{"url", link}, {"status", status}, {"trace", trace}};
  if (target) json["target"] = *target;
  if (reason) json["reason"] = *reason;
  if (picker) {
    json["picker"] = *picker;
    json["rows"] = rows;
  }
  if (error) json["error"] = *error;
  return json;
}

ClickOutcome ClickOutcome::fromJson(const JsonReader& json) {
  ClickOutcome outcome;
  outcome.link = json["url"].string();
  outcome.status = json["status"].string();
  for (const JsonReader& line : json["trace"].elements()) outcome.trace.push_back(line.string());
  if (auto target = json.optional("target")) outcome.target = target->string();
  if (auto reason = json.optional("reason")) outcome.reason = reason->string();
  if (auto picker = json.optional("picker")) outcome.picker = picker->value();
  if (auto rows = json.optional("rows")) {
    for (const JsonReader& row : rows->elements()) outcome.rows.push_back(row.string());
  }
  if (auto error = json.optional("error")) outcome.error = error->string();
  return outcome;
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
                    const TerminalPicker::Answer& answer) {
  ClickOutcome outcome;
  outcome.link = request.url.absoluteString();
  if (answer.kind != TerminalPicker::Answer::Kind::choose ||
      answer.index >= request.candidates.size()) {
    router.cancel(request.id, std::nullopt);
    outcome.status = "cancelled";
    outcome.trace = traceOf(log, request.id);
    return outcome;
  }
  const BrowserTarget& target = request.candidates[answer.index].target;
  std::optional<RememberScope> scope;
  if (answer.remember) scope = RememberScope::domain();
  try {
    router.choose(request.id, request.url, target, scope, answer.privateMode, std::nullopt,
                  std::nullopt, Date::now());
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
