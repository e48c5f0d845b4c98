// `linkferry rules check [--json]`: every problem of rules.json (a load error with its key path, or
// per rule its malformed patterns, time windows and rewrites); exit 1 when there is any.
// `linkferry rules list [--json]`: each rule in one line with its condition and whether it is
// active now.
#include <exception>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "Command.h"
#include "foundation/Dates.h"
#include "foundation/Json.h"
#include "foundation/Overloaded.h"
#include "rules/RuleEvaluator.h"
#include "rules/RuleSet.h"
#include "rules/RuleSetError.h"
#include "settings/LinkferryPaths.h"

namespace linkferry::cli {
namespace {

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

// The rule's state at `now`: "active", "disabled" or "expired".
std::string stateText(const Rule& rule, Date now) {
  if (rule.isExpired(now)) return "expired";
  return rule.isActive(now) ? "active" : "disabled";
}

// Every problem of one rule, in the order the editor would show them.
std::vector<std::string> ruleProblems(const Rule& rule) {
  std::vector<std::string> problems = RuleEvaluator::problems(rule.match);
  if (const auto* rewrite = rule.action.kind.asRewrite()) {
    for (std::string& problem : rewrite->rewrite.problems()) problems.push_back(std::move(problem));
  }
  return problems;
}

int check(bool json) {
  const std::filesystem::path file = LinkferryPaths::defaultPaths().rules();
  JsonValue problems = JsonValue::array();
  std::vector<std::string> lines;
  std::size_t ruleCount = 0;
  try {
    RuleSet set = RuleSet::load(file);
    ruleCount = set.rules.size();
    for (std::size_t i = 0; i < set.rules.size(); ++i) {
      const Rule& rule = set.rules[i];
      for (const std::string& problem : ruleProblems(rule)) {
        problems.push_back(
            {{"rule", i}, {"id", rule.id}, {"name", rule.name}, {"message", problem}});
        lines.push_back("rules[" + std::to_string(i) + "] “" + rule.name + "”: " + problem);
      }
    }
  } catch (const JsonError& error) {
    problems.push_back({{"message", error.what()}, {"path", error.path()}});
    lines.push_back(error.what());
  } catch (const RuleSetError& error) {
    problems.push_back({{"message", std::string(file.string()) + ": " + error.what()}});
    lines.push_back(file.string() + ": " + error.what());
  } catch (const std::system_error& error) {
    problems.push_back({{"message", error.what()}});
    lines.push_back(error.what());
  }

  if (json) {
    printJson({{"file", file.string()}, {"rules", ruleCount}, {"problems", problems}});
  } else if (lines.empty()) {
    std::cout << file.string() << ": " << ruleCount << (ruleCount == 1 ? " rule" : " rules")
              << ", no problems\n";
  } else {
    for (const std::string& line : lines) std::cout << line << '\n';
  }
  return lines.empty() ? kSuccess : kInputError;
}

int list(bool json) {
  const std::filesystem::path file = LinkferryPaths::defaultPaths().rules();
  RuleSet set;
  try {
    set = RuleSet::load(file);
  } catch (const RuleSetError& error) {
    throw InputError(file.string() + ": " + error.what());
  } catch (const std::system_error& error) {
    throw InputError(error.what());
  }
  const Date now = Date::now();

  if (json) {
    JsonValue rules = JsonValue::array();
    for (const Rule& rule : set.rules) {
      JsonValue entry = rule.toJson();
      entry["active"] = rule.isActive(now);
      entry["condition"] = conditionText(rule.match, false);
      entry["summary"] = actionText(rule.action);
      if (rule.expiresAt) entry["expiresAt"] = RFC3339::formatUTC(*rule.expiresAt);
      rules.push_back(std::move(entry));
    }
    printJson(rules);
    return kSuccess;
  }
  if (set.rules.empty()) {
    std::cout << "no rules in " << file.string() << '\n';
    return kSuccess;
  }
  const Calendar calendar = Calendar::current();
  for (std::size_t i = 0; i < set.rules.size(); ++i) {
    const Rule& rule = set.rules[i];
    std::cout << i + 1 << ". [" << stateText(rule, now) << "] " << rule.name << ": if "
              << conditionText(rule.match, false) << " then " << actionText(rule.action);
    if (rule.expiresAt)
      std::cout << " (until " << RFC3339::format(*rule.expiresAt, calendar) << ")";
    std::cout << '\n';
  }
  return kSuccess;
}

const RegisterCommand kRegister([](CLI::App& program) -> CommandAction {
  CLI::App* rules = program.add_subcommand("rules", "Check or list the rules in rules.json");
  rules->require_subcommand(1);
  auto checkJson = std::make_shared<bool>(false);
  auto listJson = std::make_shared<bool>(false);
  CLI::App* checkCommand = rules->add_subcommand(
      "check", "Report malformed rules: load errors, bad patterns, time windows and rewrites");
  checkCommand->add_flag("--json", *checkJson, "Machine-readable output");
  CLI::App* listCommand =
      rules->add_subcommand("list", "Each rule with its condition and whether it is active now");
  listCommand->add_flag("--json", *listJson, "Machine-readable output");
  return [checkCommand, checkJson, listJson]() {
    if (checkCommand->parsed()) return check(*checkJson);
    return list(*listJson);
  };
});

}  // namespace
}  // namespace linkferry::cli
