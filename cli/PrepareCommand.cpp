// `linkferry prepare URL... [--json] [--no-network]`: each link as it would be opened: redirect
// wrappers unwrapped, a short link expanded, the rules' rewrites applied, http upgraded, tracking
// parameters removed, each by the settings of the data folder, with the trace of what was done.
// `--no-network` makes no request: short links stay as they are.
#include <chrono>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "Command.h"
#include "foundation/DisplayText.h"
#include "foundation/Dates.h"
#include "foundation/Json.h"
#include "foundation/Text.h"
#include "foundation/URL.h"
#include "preparation/LinkPreparation.h"
#include "preparation/NetworkShortLinkExpander.h"
#include "preparation/TrackingParameters.h"
#include "rules/RuleSet.h"
#include "rules/RuleSetError.h"
#include "settings/AppSettings.h"
#include "settings/LinkferryPaths.h"

namespace linkferry::cli {
namespace {

// What the application gives its own expander: a chain of shorteners rarely has more than three
// hops, and a link click must not wait long for a slow shortener.
constexpr int kMaxHops = 10;
constexpr std::chrono::milliseconds kExpansionTimeout{5000};

// Settings that cannot be read are the user's to fix: an error naming the file.
AppSettings loadSettings(const LinkferryPaths& paths) {
  try {
    return AppSettings::load(paths.settings());
  } catch (const std::system_error& error) {
    throw InputError(error.what());
  }
}

RuleSet loadRules(const LinkferryPaths& paths) {
  const std::filesystem::path file = paths.rules();
  try {
    return RuleSet::load(file);
  } catch (const RuleSetError& error) {
    throw InputError(file.string() + ": " + error.what());
  } catch (const std::system_error& error) {
    throw InputError(error.what());
  }
}

struct Prepared {
  std::string link;
  LinkPreparation::Result result;
  std::vector<std::string> removed;
};

// Throws InputError for a text that is no URL or has no scheme.
Prepared prepareOne(const std::string& text, const AppSettings& settings, const RuleSet& rules,
                    const ShortLinkExpanding* expander) {
  std::optional<URL> url = URL::parse(text);
  if (!url) throw InputError("not a URL: \"" + text + "\"");
  if (!url->scheme()) throw InputError("not a URL (no scheme such as https:): \"" + text + "\"");
  const RoutingContext context({}, {}, {}, Date::now(), Calendar::current());
  Prepared prepared{
      text,
      LinkPreparation::prepare(LinkRequest(*url, Date::now()), context, settings, rules, expander),
      {}};
  if (settings.stripTracking) {
    auto cleaned = TrackingParameters::clean(prepared.result.url);
    if (!cleaned.removed.empty()) {
      prepared.result.url = std::move(cleaned.url);
      prepared.removed = std::move(cleaned.removed);
      prepared.result.trace.push_back("[tracking] removed: " + Text::join(prepared.removed, ", "));
    }
  }
  return prepared;
}

JsonValue preparedJson(const Prepared& prepared) {
  JsonValue trace = JsonValue::array();
  for (const std::string& line : prepared.result.trace) trace.push_back(line);
  JsonValue removed = JsonValue::array();
  for (const std::string& name : prepared.removed) removed.push_back(name);
  return {
      {"link", prepared.link},
      {"url", prepared.result.url.absoluteString()},
      {"expandedFrom", prepared.result.expandedFrom
                           ? JsonValue(prepared.result.expandedFrom->absoluteString())
                           : JsonValue(nullptr)},
      {"trace", std::move(trace)},
      {"removed", std::move(removed)},
  };
}

void printPrepared(const Prepared& prepared) {
  std::cout << DisplayText::escaped(prepared.result.url.absoluteString()) << '\n';
  for (const std::string& line : prepared.result.trace) {
    std::cout << "  " << DisplayText::escaped(line) << '\n';
  }
}

int runPrepare(const std::vector<std::string>& texts, bool json, bool noNetwork) {
  const LinkferryPaths paths = LinkferryPaths::defaultPaths();
  const AppSettings settings = loadSettings(paths);
  const RuleSet rules = loadRules(paths);
  std::optional<NetworkShortLinkExpander> expander;
  if (!noNetwork) expander.emplace(kMaxHops, kExpansionTimeout);

  int status = kSuccess;
  JsonValue results = JsonValue::array();
  for (const std::string& text : texts) {
    try {
      Prepared prepared = prepareOne(text, settings, rules, expander ? &*expander : nullptr);
      if (json) {
        results.push_back(preparedJson(prepared));
      } else {
        printPrepared(prepared);
      }
    } catch (const InputError& error) {
      std::cout << std::flush;
      printError(error.what());
      status = worst(status, kInputError);
    }
  }
  if (json) printJson(results);
  std::cout << std::flush;
  return status;
}

RegisterCommand registerPrepare([](CLI::App& program) -> CommandAction {
  auto* command = program.add_subcommand(
      "prepare",
      "Show the link that would open: unwrapped, expanded, rewritten, upgraded, cleaned");
  auto texts = std::make_shared<std::vector<std::string>>();
  auto json = std::make_shared<bool>(false);
  auto noNetwork = std::make_shared<bool>(false);
  command->add_option("url", *texts, "Links to prepare")->required();
  command->add_flag("--json", *json, "Print the results as JSON");
  command->add_flag("--no-network", *noNetwork, "Do not expand short links over the network");
  return [texts, json, noNetwork] { return runPrepare(*texts, *json, *noNetwork); };
});

}  // namespace
}  // namespace linkferry::cli
