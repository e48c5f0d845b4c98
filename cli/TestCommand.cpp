// `linkferry test URL [--source-app ID] [--json]`: what routing would decide for a link, with the
// preparation lines (trackers removed as for a click) and every stage's say, and the exact
// command `open` would run for it, made by the same plan code and quoted for a shell. Nothing is
// launched, logged or fetched (short links are not expanded).
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "Command.h"
#include "LinuxContext.h"
#include "RouterLoader.h"
#include "foundation/DisplayText.h"
#include "foundation/Files.h"
#include "foundation/Json.h"
#include "foundation/Process.h"
#include "foundation/URL.h"
#include "rules/TargetLabel.h"
#include "safety/ReadableLink.h"

namespace linkferry::cli {

namespace {

std::string describe(const RouteTarget& target, const BrowserCatalog& catalog) {
  return target.isIgnore() ? "ignore" : "open in " + TargetLabel::text(target, catalog);
}

int runTest(const std::string& text, const std::optional<std::string>& sourceApp, bool json) {
  std::optional<URL> url = URL::parse(text);
  if (std::optional<std::string> problem = URL::parseProblem(text)) {
    throw InputError("not a link: " + *problem + ": " + DisplayText::escaped(text));
  }
  if (!url || !url->scheme()) throw InputError("not a link with a scheme: " + text);
  RouterLoader::Options options;
  options.environment = Process::currentEnvironment();
  options.home = Files::home();
  options.network = false;
  RouterLoader::Loaded loaded = RouterLoader::load(options);
  for (const std::string& problem : loaded.problems) printError(problem);
  const RouterState state = loaded.router->state();

  const RoutingContext context = LinuxContext::current(options.home, options.environment);
  const LinkRequest request(*url, sourceApp, std::nullopt, context.now);
  std::optional<URL> prepared;
  const Decision decision = loaded.router->test(request, context, &prepared);
  LinkRequest preparedRequest = request;
  if (prepared) preparedRequest.url = *prepared;

  std::optional<LaunchPlan> plan;
  std::optional<std::string> planError;
  if (const Outcome::Route* route = decision.outcome.asRoute()) {
    try {
      plan = loaded.router->plan(*route, preparedRequest, context);
    } catch (const std::exception& error) {
      planError = error.what();
    }
  }
  const Outcome::Route* route = decision.outcome.asRoute();
  const bool asksFirst = loaded.router->asksFirst(decision);

  if (json) {
    JsonValue result = {{"url", preparedRequest.url.absoluteString()}};
    JsonValue trace = JsonValue::array();
    for (const TraceEntry& entry : decision.trace) {
      trace.push_back({{"stage", entry.stage},
                       {"summary", entry.summary},
                       {"milliseconds", static_cast<double>(entry.duration.count()) / 1e6}});
    }
    result["trace"] = std::move(trace);
    if (route) {
      result["decision"] = {{"outcome", "route"},
                            {"target", describe(route->target, *state.catalog)},
                            {"stage", route->reason.stage},
                            {"reason", route->reason.detail},
                            {"asksFirst", asksFirst}};
    } else {
      JsonValue candidates = JsonValue::array();
      for (const Candidate& candidate : decision.outcome.asAsk()->candidates) {
        candidates.push_back({{"target", candidate.target.toJson()},
                              {"label", TargetLabel::text(candidate.target, *state.catalog)},
                              {"weight", candidate.weight}});
      }
      result["decision"] = {{"outcome", "ask"}, {"candidates", std::move(candidates)}};
    }
    result["plan"] = plan ? plan->toJson() : JsonValue(nullptr);
    result["command"] = plan ? JsonValue(plan->commandLine()) : JsonValue(nullptr);
    if (planError) result["planError"] = *planError;
    printJson(result);
    return planError ? kInputError : kSuccess;
  }

  // Links, rule and profile names and program arguments are outside text: shown escaped.
  const auto shown = [](std::string_view text) { return DisplayText::escaped(text); };
  std::cout << shown(ReadableLink::text(preparedRequest.url)) << '\n';
  for (const TraceEntry& entry : decision.trace) {
    // Preparation lines carry their own tag and took no measured time.
    std::cout << "  " << shown(entry.stage == "prepare" ? entry.summary : Router::traceLine(entry))
              << '\n';
  }
  if (route) {
    std::cout << "decision: " << shown(describe(route->target, *state.catalog)) << " ("
              << route->reason.stage << ": " << shown(route->reason.detail) << ")\n";
    if (asksFirst) std::cout << "always ask is on: the picker is shown first, with this first\n";
  } else {
    std::cout << "decision: ask the user, suggesting:\n";
    for (const Candidate& candidate : decision.outcome.asAsk()->candidates) {
      std::cout << "  " << shown(TargetLabel::text(candidate.target, *state.catalog)) << '\n';
    }
  }
  if (plan) {
    // The plan `open` would run, quoted as a shell needs it, so the line can be pasted.
    std::cout << "command: " << DisplayText::pasteable(plan->commandLine()) << '\n';
    for (const LaunchPlan& fallback : plan->fallbacks) {
      std::cout << "  if that fails: " << DisplayText::pasteable(fallback.commandLine()) << '\n';
    }
    for (const std::string& warning : plan->warnings) std::cout << "  warning: " << shown(warning) << '\n';
  }
  if (planError) {
    printError("cannot open it: " + *planError);
    return kInputError;
  }
  return kSuccess;
}

RegisterCommand registerTest([](CLI::App& program) -> CommandAction {
  auto* command =
      program.add_subcommand("test", "Show where a link would go and why, without opening it");
  auto link = std::make_shared<std::string>();
  auto sourceApp = std::make_shared<std::optional<std::string>>();
  auto json = std::make_shared<bool>(false);
  command->add_option("link", *link, "The link")->required();
  command->add_option("--source-app", *sourceApp, "Desktop identifier of the app it comes from");
  command->add_flag("--json", *json, "Print the decision as JSON");
  return [link, sourceApp, json] { return runTest(*link, *sourceApp, *json); };
});

}  // namespace

}  // namespace linkferry::cli
