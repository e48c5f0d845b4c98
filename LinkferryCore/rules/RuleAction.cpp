#include "rules/RuleAction.h"

#include <array>
#include <string_view>

namespace linkferry {

JsonValue RuleAction::toJson() const {
  JsonValue json = JsonValue::object();
  if (const auto* open = kind.asOpen()) {
    json["open"] = open->target.toJson();
  } else if (const auto* prompt = kind.asPrompt()) {
    JsonValue targets = JsonValue::array();
    for (const BrowserTarget& target : prompt->targets) targets.push_back(target.toJson());
    json["prompt"] = std::move(targets);
  } else if (const auto* app = kind.asOpenInApp()) {
    json["openInApp"] = app->bundleID;
  } else if (const auto* rewrite = kind.asRewrite()) {
    json["rewrite"] = rewrite->rewrite.toJson();
  } else {
    json["ignore"] = true;
  }
  if (preferExistingTab) json["preferExistingTab"] = true;
  if (newWindow) json["newWindow"] = *newWindow;
  if (background) json["background"] = *background;
  return json;
}

RuleAction RuleAction::fromJson(const JsonReader& json) {
  if (!json.isObject()) json.fail("expected an object, got " + Json::typeName(json.value()));
  static constexpr std::array<std::string_view, 5> kKindKeys = {"open", "prompt", "openInApp",
                                                                "ignore", "rewrite"};
  std::string_view found;
  int count = 0;
  for (std::string_view key : kKindKeys) {
    if (json.value().contains(key)) {
      found = key;
      ++count;
    }
  }
  if (count != 1)
    json.fail("An action needs exactly one of open, prompt, openInApp, ignore, rewrite");

  auto action = [&]() -> RuleActionKind {
    if (found == "open") return RuleActionKind::open(BrowserTarget::fromJson(json["open"]));
    if (found == "prompt") {
      std::vector<BrowserTarget> targets;
      for (const JsonReader& target : json["prompt"].elements()) {
        targets.push_back(BrowserTarget::fromJson(target));
      }
      return RuleActionKind::prompt(std::move(targets));
    }
    if (found == "openInApp") return RuleActionKind::openInApp(json["openInApp"].string());
    if (found == "rewrite") return RuleActionKind::rewrite(URLRewrite::fromJson(json["rewrite"]));
    return RuleActionKind::ignore();
  }();

  RuleAction result{
      .kind = std::move(action), .preferExistingTab = false, .newWindow = {}, .background = {}};
  if (auto prefer = json.optional("preferExistingTab"))
    result.preferExistingTab = prefer->boolean();
  if (auto window = json.optional("newWindow")) result.newWindow = window->boolean();
  if (auto background = json.optional("background")) result.background = background->boolean();
  return result;
}

}  // namespace linkferry
