#include "rules/RuleSet.h"

#include "foundation/Files.h"
#include "foundation/Regex.h"
#include "routing/LinkRequest.h"
#include "routing/RouteTarget.h"
#include "routing/RoutingContext.h"
#include "rules/RuleEvaluator.h"
#include "rules/RuleSetError.h"

namespace linkferry {

RuleSet RuleSet::load(const std::filesystem::path& file) {
  std::optional<std::string> text = Files::readIfExists(file);
  if (!text) return RuleSet{};
  return decode(*text, file.string());
}

RuleSet RuleSet::decode(std::string_view text, std::string_view fileName) {
  JsonValue document = Json::parse(text, fileName);
  return fromJson(JsonReader(document, std::string(fileName)));
}

void RuleSet::save(const std::filesystem::path& file) const {
  Files::writeAtomically(file, encode());
}

std::string RuleSet::encode() const {
  return Json::encodePretty(toJson());
}

JsonValue RuleSet::toJson() const {
  JsonValue list = JsonValue::array();
  for (const Rule& rule : rules) list.push_back(rule.toJson());
  JsonValue json = JsonValue::object();
  json["version"] = version;
  json["rules"] = std::move(list);
  return json;
}

RuleSet RuleSet::fromJson(const JsonReader& json) {
  // The version comes first: a newer file may use a grammar this one cannot read.
  std::int64_t version = json["version"].integer();
  if (version >= 2) throw RuleSetError::unsupportedVersion(version);
  RuleSet set{.version = version, .rules = {}};
  for (const JsonReader& rule : json["rules"].elements()) set.rules.push_back(Rule::fromJson(rule));
  set.compilePatterns();
  return set;
}

void RuleSet::compilePatterns() {
  auto held = std::make_shared<std::vector<std::shared_ptr<const Regex>>>();
  for (const Rule& rule : rules) {
    RuleEvaluator::collectPatterns(rule.match, *held);
    if (const auto* rewrite = rule.action.kind.asRewrite()) {
      if (auto regex = rewrite->rewrite.compiledPattern()) held->push_back(std::move(regex));
    }
  }
  compiledPatterns.held = std::move(held);
}

RuleSet RuleSet::removingExpired(Date now) const {
  RuleSet kept{.version = version, .rules = {}};
  for (const Rule& rule : rules) {
    if (!rule.isExpired(now)) kept.rules.push_back(rule);
  }
  return kept;
}

std::optional<Rule> RuleSet::decidingRule(const RouteTarget& target, const LinkRequest& request,
                                          const RoutingContext& context) const {
  const auto* open = std::get_if<RouteTarget::Open>(&target.value());
  const auto* app = std::get_if<RouteTarget::OpenInApp>(&target.value());
  if (!open && !app) return std::nullopt;
  RuleEvaluator::Subject subject(request, context);
  for (const Rule& rule : rules) {
    if (!rule.isActive(context.now)) continue;
    const auto* ruleOpen = rule.action.kind.asOpen();
    const auto* ruleApp = rule.action.kind.asOpenInApp();
    bool sendsThere = (open && ruleOpen && ruleOpen->target == open->target) ||
                      (app && ruleApp && ruleApp->bundleID == app->bundleID);
    if (sendsThere && RuleEvaluator::matches(rule.match, subject)) return rule;
  }
  return std::nullopt;
}

}  // namespace linkferry
