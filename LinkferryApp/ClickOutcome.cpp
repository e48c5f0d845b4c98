#include "ClickOutcome.h"

#include <utility>

namespace linkferry {

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

std::string ClickOutcome::text() const {
  std::string text = link + '\n';
  if (picker) {
    text += "  → the user must choose:\n";
    for (const std::string& row : rows) text += "    " + row + '\n';
    for (const std::string& line : trace) text += "    " + line + '\n';
    text += "  picker request: " + Json::encodeCompact(*picker) + '\n';
    return text;
  }
  text += "  → " + status;
  if (target) text += (status == "failed" ? " to open in " : " in ") + *target;
  if (reason) text += ": " + *reason;
  text += '\n';
  for (const std::string& line : trace) text += "    " + line + '\n';
  if (error) text += "  error: " + *error + '\n';
  return text;
}

int ClickOutcome::exitStatus() const {
  if (status == "pick") return kMustChoose;
  if (status == "failed") return kFailed;
  return 0;
}

}  // namespace linkferry
