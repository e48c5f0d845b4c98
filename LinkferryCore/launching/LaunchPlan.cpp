#include "launching/LaunchPlan.h"

#include <string_view>
#include <utility>

namespace linkferry {

namespace {

JsonValue stringArray(const std::vector<std::string>& values) {
  JsonValue array = JsonValue::array();
  for (const auto& value : values) array.push_back(value);
  return array;
}

std::vector<std::string> readStrings(const JsonReader& json) {
  std::vector<std::string> values;
  for (const auto& element : json.elements()) values.push_back(element.string());
  return values;
}

LaunchPlan decode(const JsonReader& json, int depth) {
  if (!json.isObject()) json.fail("expected an object, got " + Json::typeName(json.value()));
  LaunchPlan plan;
  plan.executable = json["executable"].string();
  plan.arguments = readStrings(json["arguments"]);
  plan.warnings = readStrings(json["warnings"]);
  const JsonReader fallbacks = json["fallbacks"];
  const auto elements = fallbacks.elements();
  if (!elements.empty() && depth >= LaunchPlan::kMaxFallbackDepth) {
    fallbacks.fail("fallbacks nested too deeply");
  }
  for (const auto& element : elements) plan.fallbacks.push_back(decode(element, depth + 1));
  if (auto note = json.optional("fallbackNote")) plan.fallbackNote = note->string();
  return plan;
}

}  // namespace

LaunchPlan::LaunchPlan(std::string executable, std::vector<std::string> arguments,
                       std::vector<std::string> warnings, std::vector<LaunchPlan> fallbacks,
                       std::optional<std::string> fallbackNote)
    : executable(std::move(executable)),
      arguments(std::move(arguments)),
      warnings(std::move(warnings)),
      fallbacks(std::move(fallbacks)),
      fallbackNote(std::move(fallbackNote)) {}

namespace {

std::string shellWord(std::string_view word) {
  auto safe = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("_@%+=:,./-").find(c) != std::string_view::npos;
  };
  // zsh expands a word that starts with "=" to a program's path.
  bool plain = !word.empty() && word.front() != '=';
  for (char c : word) plain = plain && safe(c);
  if (plain) return std::string(word);
  std::string quoted = "'";
  for (char c : word) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

}  // namespace

std::string LaunchPlan::commandLine() const {
  std::string line = shellWord(executable);
  for (const std::string& argument : arguments) line += " " + shellWord(argument);
  return line;
}

JsonValue LaunchPlan::toJson() const {
  JsonValue json = JsonValue::object();
  json["executable"] = executable;
  json["arguments"] = stringArray(arguments);
  json["warnings"] = stringArray(warnings);
  JsonValue nested = JsonValue::array();
  for (const auto& fallback : fallbacks) nested.push_back(fallback.toJson());
  json["fallbacks"] = std::move(nested);
  if (fallbackNote) json["fallbackNote"] = *fallbackNote;
  return json;
}

LaunchPlan LaunchPlan::fromJson(const JsonReader& json) {
  return decode(json, 0);
}

}  // namespace linkferry
