// Loads arbitrary bytes as a rule file; whatever loads is evaluated against a few links, validated,
// rewritten and saved again. Only the load errors may be thrown, and a loaded set must read back
// unchanged from its own saved text.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Json.h"
#include "routing/LinkRequest.h"
#include "routing/RouteTarget.h"
#include "routing/RoutingContext.h"
#include "rules/RuleEvaluator.h"
#include "rules/RuleSet.h"
#include "rules/RuleSetError.h"
#include "rules/URLRewriter.h"

using namespace linkferry;

namespace {

LinkRequest link(const char* url, const char* sourceApp, const char* sourceWindow, double seconds) {
  std::optional<std::string> app, window;
  if (sourceApp) app = sourceApp;
  if (sourceWindow) window = sourceWindow;
  return LinkRequest(*URL::parse(url), app, window, Date{seconds});
}

const std::vector<LinkRequest>& links() {
  static const auto& requests = *new std::vector<LinkRequest>{
      link("https://www.Example.com/Docs/a%20b?q=1&flag#top", "com.slack.app", "#general | ACME",
           1'800'000'000),
      link("mailto:someone@example.com?subject=hi", nullptr, nullptr, 1'800'000'000),
      link("http://[::1]:8080/caf%C3%A9/", nullptr, "", 0),
      link("https://xn--bcher-kva.test/%F0%9F%87%A9%F0%9F%87%AA?a=%25zz", nullptr, nullptr, 0),
  };
  return requests;
}

const RoutingContext& context() {
  static const RoutingContext* value = [] {
    std::optional<std::string> noBrowser;
    std::set<std::string> networks = {"Office", ""};
    return new RoutingContext(noBrowser, noBrowser, networks, Date{1'796'000'000},
                              *Calendar::withTimeZone("Europe/Berlin"));
  }();
  return *value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  RuleSet set;
  try {
    set = RuleSet::decode(text, "rules.json");
  } catch (const JsonError&) {
    return 0;
  } catch (const RuleSetError&) {
    return 0;
  }

  for (const LinkRequest& request : links()) {
    RuleEvaluator::Subject subject(request, context());
    for (const Rule& rule : set.rules) {
      RuleEvaluator::matches(rule.match, subject);
      if (const auto* rewrite = rule.action.kind.asRewrite()) {
        rewrite->rewrite.apply(request.url);
        rewrite->rewrite.summary();
      }
      if (const auto* open = rule.action.kind.asOpen()) {
        set.decidingRule(RouteTarget::open(open->target), request, context());
      }
    }
    URLRewriter::apply(set, request, context());
  }
  for (const Rule& rule : set.rules) {
    RuleEvaluator::problems(rule.match);
    if (const auto* rewrite = rule.action.kind.asRewrite()) rewrite->rewrite.problems();
  }

  if (RuleSet::decode(set.encode(), "saved") != set) __builtin_trap();

  // A rule added as the picker adds one leaves a file that loads as the changed set (ids the
  // file does not hold are made up on each load, so they are not compared).
  RuleSet changed = set;
  changed.rules.insert(changed.rules.begin(),
                       Rule{.id = "fuzz",
                            .name = "added",
                            .enabled = true,
                            .match = Matcher::host("*.a.example"),
                            .action = RuleAction{.kind = RuleActionKind::open(BrowserTarget{"b"})},
                            .expiresAt = std::nullopt});
  RuleSet reloaded = RuleSet::decode(changed.encodeEditing(text, set), "edited");
  if (reloaded.rules.size() != changed.rules.size()) __builtin_trap();
  for (std::size_t i = 0; i < changed.rules.size(); ++i) {
    reloaded.rules[i].id = changed.rules[i].id;
  }
  if (reloaded != changed) __builtin_trap();
  return 0;
}
