#include "ClickOutcome.h"

#include <string_view>
#include <utility>

#include "foundation/DisplayText.h"
#include "safety/ReadableLink.h"

namespace linkferry {

JsonValue ClickOutcome::toJson() const {
  JsonValue json = {{"url", link}, {"status", status}, {"trace", trace}};
  if (target) json["target"] = *target;
  if (reason) json["reason"] = *reason;
  if (picker) {
    json["picker"] = *picker;
    json["rows"] = rows;
  }
  if (pickerInput) json["pickerInput"] = *pickerInput;
  if (error) json["error"] = *error;
  if (logError) json["logError"] = *logError;
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
  if (auto input = json.optional("pickerInput")) outcome.pickerInput = input->value();
  if (auto error = json.optional("error")) outcome.error = error->string();
  if (auto logError = json.optional("logError")) outcome.logError = logError->string();
  return outcome;
}

ClickOutcome ClickOutcome::fromServiceAnswer(const JsonValue& answer) {
  return fromJson(JsonReader(answer, "the service's answer")["outcome"]);
}

ClickOutcome ClickOutcome::failed(std::string link, std::string error) {
  ClickOutcome outcome;
  outcome.link = std::move(link);
  outcome.status = "failed";
  outcome.error = std::move(error);
  return outcome;
}

// Every piece may carry outside text (the link, a window title in the trace, a host in a row),
// so each is escaped for the terminal. The picker request stays JSON that reads back the same,
// written in ASCII so that no control of its strings reaches the terminal either.
std::string ClickOutcome::text() const {
  const auto shown = [](std::string_view piece) { return DisplayText::escaped(piece); };
  const std::optional<URL> url = URL::parse(link);
  std::string text = shown(url ? ReadableLink::text(*url) : link) + '\n';
  if (picker) {
    text += "  → the user must choose:\n";
    for (const std::string& row : rows) text += "    " + shown(row) + '\n';
    for (const std::string& line : trace) text += "    " + shown(line) + '\n';
    text += "  picker request: " +
            picker->dump(-1, ' ', /*ensure_ascii=*/true, JsonValue::error_handler_t::replace) + '\n';
    if (logError) text += "  not logged: " + shown(*logError) + '\n';
    return text;
  }
  text += "  → " + shown(status);
  if (target) text += (status == "failed" ? " to open in " : " in ") + shown(*target);
  if (reason) text += ": " + shown(*reason);
  text += '\n';
  for (const std::string& line : trace) text += "    " + shown(line) + '\n';
  if (error) text += "  error: " + shown(*error) + '\n';
  if (logError) text += "  not logged: " + shown(*logError) + '\n';
  return text;
}

int ClickOutcome::exitStatus() const {
  if (status == "pick") return kMustChoose;
  if (status == "failed") return kFailed;
  return 0;
}

}  // namespace linkferry
