// `linkferry rules check [--json] [--strict]`: every problem of rules.json (a load error with its
// key path, or per rule its malformed patterns, time windows and rewrites; exit 1 when there is
// any), then the warnings: keys that nothing reads and targets this machine's catalog does not
// have (exit 1 for those only with --strict), and notes saying what the names in targets stand for
// ("note: rules[0] “x”: profile "Work" is "Profile 1""). A missing file is said plainly and is no
// failure.
// `linkferry rules list [--json]`: each rule in one line with its condition, whether it is
// enabled, disabled or expired, whether its time window holds now and whether it has problems.
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "Command.h"
#include "Environment.h"
#include "foundation/Dates.h"
#include "foundation/Json.h"
#include "foundation/Overloaded.h"
#include "foundation/Text.h"
#include "rules/RuleSet.h"
#include "rules/RuleSetCheck.h"
#include "rules/RuleSetError.h"
#include "settings/LinkferryPaths.h"

namespace linkferry::cli {
namespace {

// Shown by `linkferry rules --help`; a test loads it, so it stays a valid rule file. The two
// targets are filled in with this machine's browsers (exampleTargets).
constexpr std::string_view kExampleRules = R"({"version": 1, "rules": [
  {"name": "Work sites in their own profile", "match": {"host": "*.corp.example"},
   "action": {"open": @OPEN@}},
  {"name": "Ask for video sites", "match": {"any": [{"host": "*.youtube.com"}, {"host": "vimeo.com"}]},
   "action": {"prompt": @PROMPT@}},
  {"name": "Meetings in their app", "match": {"urlRegex": "^https://[^/]*zoom\\.us/j/"},
   "action": {"openInApp": "us.zoom.Zoom"}},
  {"name": "Old wiki moved", "match": {"host": "wiki.old.example"},
   "action": {"rewrite": {"host": "wiki.example"}}},
  {"name": "No news on weekday mornings", "enabled": false,
   "match": {"all": [{"host": "news.example"},
                     {"timeWindow": {"days": [1, 2, 3, 4, 5], "start": "08:00", "end": "12:00"}}]},
   "action": {"ignore": true}}
]}
)";

// A target object laid out like the rest of the example: `{"browser": "x", "privateMode": true}`.
std::string targetText(const BrowserTarget& target) {
  std::string text = "{\"browser\": " + Json::encodeCompact(target.browser);
  if (target.profile) text += ", \"profile\": " + Json::encodeCompact(*target.profile);
  if (target.privateMode) text += ", \"privateMode\": true";
  return text + "}";
}

// A target written as a person would: the browser and profile by the names `linkferry browsers`
// shows, lower-cased, where that name stands for this one browser; else by its id.
std::string writtenTarget(const BrowserCatalog& catalog, const CatalogBrowser& browser,
                        const BrowserProfile* profile, bool privateMode) {
  BrowserTarget target{Text::lowercased(browser.definition.name)};
  if (profile) target.profile = profile->name;
  const TargetResolution resolution = catalog.resolve(target);
  if (!resolution.ambiguous.empty() || resolution.target.browser != browser.definition.id ||
      (profile && resolution.target.profile != profile->id)) {
    target.browser = browser.definition.id;
    if (profile) target.profile = profile->id;
  }
  target.privateMode = privateMode;
  return targetText(target);
}

// The example's `open` and `prompt` targets, made of this machine's browsers so that they work
// here as printed: the first profile with a display name other than its id (else the second
// profile of the first browser with several, else its first, else the first browser), and the
// first browser beside a private window of the second one (or of the first). Without browsers,
// Debian's usual ones by their common names.
std::pair<std::string, std::string> exampleTargets(const BrowserCatalog& catalog) {
  if (catalog.browsers.empty()) {
    return {R"({"browser": "firefox", "profile": "work"})",
            R"([{"browser": "firefox"}, {"browser": "chromium", "privateMode": true}])"};
  }
  // A profile known by a display name of its own shows best that names work.
  const CatalogBrowser* owner = nullptr;
  const BrowserProfile* profile = nullptr;
  for (const CatalogBrowser& browser : catalog.browsers) {
    for (const BrowserProfile& candidate : browser.profiles) {
      if (!profile && !candidate.name.empty() && candidate.name != candidate.id) {
        owner = &browser;
        profile = &candidate;
      }
    }
  }
  for (const CatalogBrowser& browser : catalog.browsers) {
    if (profile) break;
    if (!browser.profiles.empty()) {
      owner = &browser;
      profile = &browser.profiles[browser.profiles.size() >= 2 ? 1 : 0];
    }
  }
  const CatalogBrowser& first = catalog.browsers.front();
  const std::string open = owner ? writtenTarget(catalog, *owner, profile, false)
                                 : writtenTarget(catalog, first, nullptr, false);
  const CatalogBrowser& second = catalog.browsers.size() >= 2 ? catalog.browsers[1] : first;
  return {open, "[" + writtenTarget(catalog, first, nullptr, false) + ", " +
                    writtenTarget(catalog, second, nullptr, true) + "]"};
}

std::string exampleRules(const BrowserCatalog& catalog) {
  const auto [open, prompt] = exampleTargets(catalog);
  std::string text = Text::replacingAll(kExampleRules, "@OPEN@", open);
  return Text::replacingAll(text, "@PROMPT@", prompt);
}

std::string dayName(std::int64_t day) {
  static const char* const kNames[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
  if (day >= 1 && day <= 7) return kNames[day - 1];
  return std::to_string(day);
}

std::string conditionText(const Matcher& matcher, bool nested);

std::string joined(const std::vector<Matcher>& members, const char* separator, bool nested) {
  std::string text;
  for (const Matcher& member : members) {
    if (!text.empty()) text += separator;
    text += conditionText(member, true);
  }
  return nested && members.size() > 1 ? "(" + text + ")" : text;
}

// A plain reading of a condition for the command line, not localised.
std::string conditionText(const Matcher& matcher, bool nested) {
  return std::visit(
      Overloaded{
          [](const Matcher::Host& m) { return "host " + m.pattern; },
          [](const Matcher::HostRegex& m) { return "host ~ /" + m.expression + "/"; },
          [](const Matcher::PathPrefix& m) { return "path starts with " + m.prefix; },
          [](const Matcher::URLRegex& m) { return "link ~ /" + m.expression + "/"; },
          [](const Matcher::Scheme& m) { return "scheme " + m.value; },
          [](const Matcher::Query& m) {
            return m.value ? "query " + m.key + "=" + *m.value : "query has " + m.key;
          },
          [](const Matcher::SourceApp& m) { return "from app " + m.bundleID; },
          [](const Matcher::SourceWindow& m) { return "window title ~ /" + m.expression + "/"; },
          [](const Matcher::Network& m) { return "on network " + m.name; },
          [](const TimeWindow& window) {
            std::string text = "time " + window.start + "-" + window.end;
            if (window.days) {
              std::string days;
              for (std::int64_t day : *window.days)
                days += (days.empty() ? "" : ",") + dayName(day);
              text += " on " + (days.empty() ? std::string("no day") : days);
            }
            return text;
          },
          [&](const Matcher::All& m) {
            return m.members.empty() ? std::string("always") : joined(m.members, " and ", nested);
          },
          [&](const Matcher::Any& m) {
            return m.members.empty() ? std::string("never") : joined(m.members, " or ", nested);
          },
          [](const Matcher::Not& m) { return "not " + conditionText(*m.member, true); },
      },
      matcher.value());
}

std::string actionText(const RuleAction& action) {
  std::string text = std::visit(
      Overloaded{
          [](const RuleActionKind::Open& a) { return "open in " + a.target.description(); },
          [](const RuleActionKind::Prompt& a) {
            std::string targets;
            for (const BrowserTarget& target : a.targets) {
              targets += (targets.empty() ? "" : ", ") + target.description();
            }
            return "ask among " + (targets.empty() ? std::string("all browsers") : targets);
          },
          [](const RuleActionKind::OpenInApp& a) { return "open with app " + a.bundleID; },
          [](const RuleActionKind::Rewrite& a) { return a.rewrite.summary(); },
          [](const RuleActionKind::Ignore&) { return std::string("ignore"); },
      },
      action.kind.value());
  if (action.newWindow) text += *action.newWindow ? ", new window" : ", same window";
  if (action.background) text += *action.background ? ", in background" : ", in front";
  return text;
}

// What the user set: "enabled", "disabled", or "expired" (whether enabled or not).
std::string stateText(const Rule& rule, Date now) {
  if (rule.isExpired(now)) return "expired";
  return rule.enabled ? "enabled" : "disabled";
}

void collectWindows(const Matcher& matcher, std::vector<const TimeWindow*>& windows) {
  std::visit(Overloaded{
                 [&](const TimeWindow& window) { windows.push_back(&window); },
                 [&](const Matcher::All& m) {
                   for (const Matcher& member : m.members) collectWindows(member, windows);
                 },
                 [&](const Matcher::Any& m) {
                   for (const Matcher& member : m.members) collectWindows(member, windows);
                 },
                 [&](const Matcher::Not& m) { collectWindows(*m.member, windows); },
                 [](const auto&) {},
             },
             matcher.value());
}

// How many of the rule's time windows contain `now`, of how many; nothing without any.
std::optional<std::pair<std::size_t, std::size_t>> windowsNow(const Rule& rule, Date now,
                                                              const Calendar& calendar) {
  std::vector<const TimeWindow*> windows;
  collectWindows(rule.match, windows);
  if (windows.empty()) return std::nullopt;
  std::size_t inside = 0;
  for (const TimeWindow* window : windows) inside += window->contains(now, calendar) ? 1 : 0;
  return std::pair{inside, windows.size()};
}

std::string windowText(std::pair<std::size_t, std::size_t> windows) {
  const auto [inside, count] = windows;
  if (inside == count) return "in its time window now";
  if (inside == 0) return "outside its time window now";
  return "in " + std::to_string(inside) + " of " + std::to_string(count) + " time windows now";
}

int check(bool json, bool strict) {
  const std::filesystem::path file = LinkferryPaths::defaultPaths().rules();
  const RuleSetCheck::Report report = RuleSetCheck::check(file, [] { return machineCatalog(); });
  const int status =
      !report.problems.empty() || (strict && !report.warnings.empty()) ? kInputError : kSuccess;

  if (json) {
    JsonValue problems = JsonValue::array();
    for (const RuleSetCheck::Problem& problem : report.problems) {
      problems.push_back(problem.toJson());
    }
    JsonValue warnings = JsonValue::array();
    for (const RuleSetWarning& warning : report.warnings) {
      warnings.push_back({{"path", warning.path}, {"message", warning.message}});
    }
    JsonValue resolved = JsonValue::array();
    for (const RuleSetWarning& note : report.resolved) {
      resolved.push_back({{"path", note.path}, {"message", note.message}});
    }
    printJson({{"file", file.string()},
               {"exists", report.fileExists},
               {"rules", report.ruleCount},
               {"problems", problems},
               {"warnings", warnings},
               {"resolved", resolved}});
    return status;
  }
  for (const RuleSetCheck::Problem& problem : report.problems) std::cout << problem.text() << '\n';
  for (const RuleSetWarning& warning : report.warnings) {
    std::cout << "warning: " << warning.text() << '\n';
  }
  for (const RuleSetWarning& note : report.resolved) std::cout << "note: " << note.text() << '\n';
  if (!report.fileExists) {
    std::cout << file.string() << ": no such file, so there are no rules\n";
  } else if (report.problems.empty()) {
    const std::size_t count = report.ruleCount, warnings = report.warnings.size();
    std::cout << file.string() << ": " << count << (count == 1 ? " rule" : " rules")
              << ", no problems";
    if (warnings != 0) std::cout << ", " << warnings << (warnings == 1 ? " warning" : " warnings");
    std::cout << '\n';
  }
  return status;
}

int list(bool json) {
  const std::filesystem::path file = LinkferryPaths::defaultPaths().rules();
  RuleSet set;
  RuleSet::LoadNotes notes;
  try {
    set = RuleSet::load(file, &notes);
  } catch (const RuleSetError& error) {
    throw InputError(file.string() + ": " + error.what());
  } catch (const std::system_error& error) {
    throw InputError(error.what());
  }
  const Date now = Date::now();
  const Calendar calendar = Calendar::current();

  if (json) {
    JsonValue rules = JsonValue::array();
    for (std::size_t i = 0; i < set.rules.size(); ++i) {
      const Rule& rule = set.rules[i];
      JsonValue entry = rule.toJson();
      // A missing id is made up afresh on every load; showing one would promise a stable id.
      if (i < notes.hasStoredId.size() && !notes.hasStoredId[i]) entry.erase("id");
      entry["state"] = stateText(rule, now);
      entry["active"] = rule.isActive(now);
      const auto windows = windowsNow(rule, now, calendar);
      entry["inTimeWindowNow"] = windows ? JsonValue(windows->first == windows->second)
                                         : JsonValue(nullptr);
      entry["problems"] = RuleSetCheck::ruleProblems(rule);
      entry["condition"] = conditionText(rule.match, false);
      entry["summary"] = actionText(rule.action);
      if (rule.expiresAt) entry["expiresAt"] = RFC3339::formatUTC(*rule.expiresAt);
      rules.push_back(std::move(entry));
    }
    printJson(rules);
    return kSuccess;
  }
  if (!notes.fileExists) {
    std::cout << "no rules: " << file.string() << " does not exist\n";
    return kSuccess;
  }
  if (set.rules.empty()) {
    std::cout << "no rules in " << file.string() << '\n';
    return kSuccess;
  }
  for (std::size_t i = 0; i < set.rules.size(); ++i) {
    const Rule& rule = set.rules[i];
    std::cout << i + 1 << ". [" << stateText(rule, now) << "] " << rule.name << ": if "
              << conditionText(rule.match, false) << " then " << actionText(rule.action);
    if (rule.expiresAt)
      std::cout << " (until " << RFC3339::format(*rule.expiresAt, calendar) << ")";
    if (const auto windows = windowsNow(rule, now, calendar)) {
      std::cout << "; " << windowText(*windows);
    }
    if (const std::size_t count = RuleSetCheck::ruleProblems(rule).size()) {
      std::cout << "; " << count << (count == 1 ? " problem" : " problems")
                << " (see linkferry rules check)";
    }
    std::cout << '\n';
  }
  return kSuccess;
}

// Where the rules are and what they look like, for `linkferry rules --help`; made only when help
// is shown, since it reads this machine's browsers.
std::string rulesHelp() {
  return "Rules are read from " + LinkferryPaths::defaultPaths().rules().string() +
         "\n(the data folder is $LINKFERRY_HOME, else $XDG_CONFIG_HOME/linkferry, else "
         "~/.config/linkferry).\nThe first enabled rule that matches a link decides. Browsers, "
         "profiles and containers are named as `linkferry browsers` shows them, by id or by "
         "name, in any case\n(\"firefox\" for firefox-esr, \"Work\" for \"Profile 1\"); "
         "`linkferry rules check` says what each name stands for here.\nOne rule of each "
         "kind:\n\n" +
         exampleRules(machineCatalog());
}

const RegisterCommand kRegister([](CLI::App& program) -> CommandAction {
  CLI::App* rules = program.add_subcommand("rules", "Check or list the rules in rules.json");
  rules->require_subcommand(1);
  rules->footer([] { return rulesHelp(); });
  auto checkJson = std::make_shared<bool>(false);
  auto strict = std::make_shared<bool>(false);
  auto listJson = std::make_shared<bool>(false);
  CLI::App* checkCommand = rules->add_subcommand(
      "check",
      "Report malformed rules (exit 1), and as warnings keys nothing reads and targets this "
      "machine does not have");
  checkCommand->add_flag("--json", *checkJson, "Machine-readable output");
  checkCommand->add_flag("--strict", *strict, "Exit 1 on warnings too");
  CLI::App* listCommand = rules->add_subcommand(
      "list", "Each rule with its condition, whether it is enabled, and its time window now");
  listCommand->add_flag("--json", *listJson, "Machine-readable output");
  return [checkCommand, checkJson, strict, listJson]() {
    if (checkCommand->parsed()) return check(*checkJson, *strict);
    return list(*listJson);
  };
});

}  // namespace
}  // namespace linkferry::cli
