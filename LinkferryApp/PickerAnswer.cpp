#include "PickerAnswer.h"

#include <utility>

namespace linkferry {

PickerAnswer PickerAnswer::from(std::string id, const TerminalPicker::Answer& answer) {
  PickerAnswer result;
  result.id = std::move(id);
  result.cancel = answer.kind != TerminalPicker::Answer::Kind::choose;
  result.index = answer.index;
  result.privateMode = answer.privateMode;
  result.rememberDomain = answer.remember;
  return result;
}

PickerAnswer PickerAnswer::from(std::string id, const PickerWindow::Result& result) {
  PickerAnswer answer;
  answer.id = std::move(id);
  answer.cancel = result.kind != PickerWindow::Result::Kind::chosen;
  answer.index = result.index;
  answer.privateMode = result.privateMode;
  answer.scope = result.scopeID;
  answer.pattern = result.pattern;
  answer.duration = result.duration;
  answer.unattended = true;
  return answer;
}

PickerAnswer PickerAnswer::unaskedFor(std::string id, std::string why) {
  PickerAnswer answer;
  answer.id = std::move(id);
  answer.cancel = false;
  answer.unasked = std::move(why);
  answer.unattended = true;
  return answer;
}

std::optional<RememberScope> PickerAnswer::rememberScope(const PickerRequest& request) const {
  if (scope) return PickerWindow::scope(request, *scope, pattern);
  if (rememberDomain) return RememberScope::domain();
  return std::nullopt;
}

JsonValue PickerAnswer::toJson() const {
  JsonValue json = {{"request", cancel ? "cancel" : "choose"},
                    {"id", id},
                    {"index", index},
                    {"privateMode", privateMode}};
  if (scope) {
    json["scope"] = *scope;
    if (pattern) json["pattern"] = *pattern;
  } else {
    json["remember"] = rememberDomain;
  }
  if (duration) json["duration"] = duration->toJson();
  if (unasked) json["unasked"] = *unasked;
  if (unattended) json["unattended"] = true;
  return json;
}

PickerAnswer PickerAnswer::fromJson(const JsonReader& request) {
  PickerAnswer answer;
  answer.id = request["id"].string();
  answer.cancel = request["request"].string() == "cancel";
  answer.unattended = request.has("unattended") && request["unattended"].boolean();
  if (answer.cancel) return answer;
  const std::int64_t index = request["index"].integer();
  if (index < 0) request["index"].fail("no candidate " + std::to_string(index));
  answer.index = static_cast<std::size_t>(index);
  answer.privateMode = request.has("privateMode") && request["privateMode"].boolean();
  if (auto scope = request.optional("scope")) answer.scope = scope->string();
  if (auto pattern = request.optional("pattern")) answer.pattern = pattern->string();
  answer.rememberDomain = request.has("remember") && request["remember"].boolean();
  if (auto duration = request.optional("duration")) {
    answer.duration = RememberDuration::fromJson(*duration);
  }
  if (auto unasked = request.optional("unasked")) answer.unasked = unasked->string();
  return answer;
}

}  // namespace linkferry
