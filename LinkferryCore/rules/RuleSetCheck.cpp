#include "rules/RuleSetCheck.h"

#include <algorithm>
#include <exception>
#include <initializer_list>
#include <map>
#include <string_view>
#include <system_error>
#include <utility>

#include "browsers/BrowserFamily.h"
#include "rules/Matcher.h"
#include "rules/RuleEvaluator.h"
#include "rules/RuleSetError.h"
#include "rules/RuleTargets.h"

namespace linkferry::RuleSetCheck {
namespace {

using Keys = std::initializer_list<std::string_view>;

std::string inQuotes(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

std::string member(const std::string& path, std::string_view key) {
  return path.empty() ? std::string(key) : path + "." + std::string(key);
}

std::string element(const std::string& path, std::size_t index) {
  return path + "[" + std::to_string(index) + "]";
}

class Walk {
 public:
  std::vector<Warning> warnings;

  // Reports the keys of `object` outside `known`. False when `object` is no object.
  bool keys(const JsonValue& object, const std::string& path, Keys known) {
    if (!object.is_object()) return false;
    for (const auto& [key, value] : object.items()) {
      if (std::find(known.begin(), known.end(), key) == known.end()) {
        warnings.push_back({path, "unknown key " + inQuotes(key) + " (ignored)"});
      }
    }
    return true;
  }

  void ruleSet(const JsonValue& document) {
    if (!keys(document, "", {"version", "rules"})) return;
    const auto rules = document.find(std::string("rules"));
    if (rules == document.end() || !rules->is_array()) return;
    for (std::size_t i = 0; i < rules->size(); ++i) rule((*rules)[i], element("rules", i));
  }

  void rule(const JsonValue& rule, const std::string& path) {
    if (!keys(rule, path, {"id", "name", "enabled", "match", "action", "expiresAt"})) return;
    if (rule.contains("match")) matcher(rule["match"], member(path, "match"));
    if (rule.contains("action")) action(rule["action"], member(path, "action"));
  }

  void matcher(const JsonValue& object, const std::string& path) {
    if (!object.is_object()) return;
    for (const auto& [key, value] : object.items()) {
      const std::string inner = member(path, key);
      std::optional<Matcher::Kind> kind;
      for (Matcher::Kind candidate : Matcher::allKinds()) {
        if (Matcher::key(candidate) == key) kind = candidate;
      }
      if (!kind) {
        warnings.push_back({path, "unknown key " + inQuotes(key) + " (ignored)"});
        continue;
      }
      switch (*kind) {
        case Matcher::Kind::query:
          keys(value, inner, {"key", "value"});
          break;
        case Matcher::Kind::timeWindow:
          keys(value, inner, {"days", "start", "end"});
          break;
        case Matcher::Kind::all:
        case Matcher::Kind::any:
          if (value.is_array()) {
            for (std::size_t i = 0; i < value.size(); ++i) matcher(value[i], element(inner, i));
          }
          break;
        case Matcher::Kind::not_:
          matcher(value, inner);
          break;
        case Matcher::Kind::host:
        case Matcher::Kind::hostRegex:
        case Matcher::Kind::pathPrefix:
        case Matcher::Kind::urlRegex:
        case Matcher::Kind::scheme:
        case Matcher::Kind::sourceApp:
        case Matcher::Kind::sourceWindow:
        case Matcher::Kind::network:
          break;
      }
    }
  }

  void target(const JsonValue& object, const std::string& path) {
    keys(object, path, {"browser", "profile", "container", "privateMode"});
  }

  void action(const JsonValue& object, const std::string& path) {
    if (!keys(object, path,
              {"open", "prompt", "openInApp", "ignore", "rewrite", "preferExistingTab", "newWindow",
               "background"})) {
      return;
    }
    if (object.contains("open")) target(object["open"], member(path, "open"));
    if (object.contains("prompt") && object["prompt"].is_array()) {
      const JsonValue& targets = object["prompt"];
      for (std::size_t i = 0; i < targets.size(); ++i) {
        target(targets[i], element(member(path, "prompt"), i));
      }
    }
    if (object.contains("rewrite")) rewrite(object["rewrite"], member(path, "rewrite"));
  }

  // Loading reads `host`, else `regex` with `replacement`, else `stripPrefix`.
  void rewrite(const JsonValue& object, const std::string& path) {
    if (!keys(object, path, {"host", "regex", "replacement", "stripPrefix"})) return;
    auto present = [&](const char* key) {
      auto found = object.find(key);
      return found != object.end() && !found->is_null();
    };
    std::string_view form = present("host")          ? "host"
                            : present("regex")       ? "regex"
                            : present("stripPrefix") ? "stripPrefix"
                                                     : "";
    if (form.empty()) return;
    for (std::string_view key : {"host", "regex", "replacement", "stripPrefix"}) {
      const bool read = key == form || (form == "regex" && key == "replacement");
      if (!read && object.contains(std::string(key))) {
        warnings.push_back({path, "key " + inQuotes(key) + " is not read beside " + inQuotes(form) +
                                      " (ignored)"});
      }
    }
  }
};

std::string ruleName(const RuleSet& set, std::size_t index) {
  return "rules[" + std::to_string(index) + "] “" + set.rules[index].name + "”";
}

}  // namespace

std::vector<Warning> unreadKeys(const JsonValue& document) {
  Walk walk;
  walk.ruleSet(document);
  return std::move(walk.warnings);
}

std::vector<std::string> targetProblems(const BrowserTarget& written,
                                        const BrowserCatalog& catalog) {
  std::vector<std::string> problems;
  if (written.browser.empty()) return {"empty browser identifier"};
  TargetResolution resolution = catalog.resolve(written);
  const BrowserTarget& target = resolution.target;
  problems = std::move(resolution.ambiguous);
  const CatalogBrowser* browser = catalog.browser(target.browser);
  if (!browser) {
    return {"browser " + inQuotes(target.browser) +
            " is not installed here (see linkferry browsers)"};
  }
  const bool firefox = browser->definition.family == BrowserFamily::firefox;
  if (target.container && !firefox) {
    problems.push_back("container " + inQuotes(*target.container) +
                       " ignored: " + inQuotes(target.browser) + " is no Firefox browser");
  }
  if (browser->dataBlocked) return problems;
  const BrowserProfile* profile = nullptr;
  if (target.profile) {
    profile = catalog.profile(target);
    if (!profile) {
      problems.push_back("browser " + inQuotes(target.browser) + " has no profile " +
                         inQuotes(*target.profile));
      return problems;
    }
  }
  if (target.container && firefox) {
    auto holds = [&](const BrowserProfile& candidate) {
      return std::any_of(candidate.containers.begin(), candidate.containers.end(),
                         [&](const FirefoxContainer& c) { return c.id == *target.container; });
    };
    const bool found = profile
                           ? holds(*profile)
                           : std::any_of(browser->profiles.begin(), browser->profiles.end(), holds);
    if (!found) {
      problems.push_back("no container " + inQuotes(*target.container) + " in " +
                         (profile ? "profile " + inQuotes(profile->id) + " of " : std::string()) +
                         inQuotes(target.browser));
    }
  }
  return problems;
}

std::vector<Warning> targetWarnings(const RuleSet& set, const BrowserCatalog& catalog,
                                    const std::vector<bool>& hasStoredId) {
  std::vector<Warning> warnings;
  std::map<std::string, std::size_t> firstWithId;
  for (std::size_t i = 0; i < set.rules.size(); ++i) {
    const Rule& rule = set.rules[i];
    const std::string path = ruleName(set, i);
    if (rule.name.empty()) warnings.push_back({path, "the rule has no name"});
    if (i >= hasStoredId.size() || hasStoredId[i]) {
      auto [earlier, added] = firstWithId.emplace(rule.id, i);
      if (!added) {
        warnings.push_back({path, "id " + inQuotes(rule.id) + " is already used by rules[" +
                                      std::to_string(earlier->second) + "]"});
      }
    }
    for (const BrowserTarget& target : RuleTargets::of(rule.action)) {
      for (std::string& problem : targetProblems(target, catalog)) {
        warnings.push_back({path, std::move(problem)});
      }
    }
  }
  return warnings;
}

std::vector<Warning> resolvedNames(const RuleSet& set, const BrowserCatalog& catalog) {
  std::vector<Warning> notes;
  for (std::size_t i = 0; i < set.rules.size(); ++i) {
    for (const BrowserTarget& target : RuleTargets::of(set.rules[i].action)) {
      for (std::string& line : catalog.resolve(target).renamed) {
        Warning note{ruleName(set, i), std::move(line)};
        if (std::find(notes.begin(), notes.end(), note) == notes.end()) notes.push_back(note);
      }
    }
  }
  return notes;
}

std::string Problem::text() const {
  if (!rule) return message;
  return "rules[" + std::to_string(rule->index) + "] “" + rule->name + "”: " + message;
}

JsonValue Problem::toJson() const {
  if (rule) {
    return {{"rule", rule->index}, {"id", rule->id}, {"name", rule->name}, {"message", message}};
  }
  if (path) return {{"message", message}, {"path", *path}};
  return {{"message", message}};
}

std::vector<std::string> ruleProblems(const Rule& rule) {
  std::vector<std::string> problems = RuleEvaluator::problems(rule.match);
  if (const auto* rewrite = rule.action.kind.asRewrite()) {
    for (std::string& problem : rewrite->rewrite.problems()) problems.push_back(std::move(problem));
  }
  return problems;
}

Report check(const std::filesystem::path& file, const std::function<BrowserCatalog()>& catalog) {
  Report report;
  RuleSet::LoadNotes notes;
  RuleSet set;
  try {
    set = RuleSet::load(file, &notes);
  } catch (const JsonError& error) {
    report.fileExists = true;  // only what was read can be malformed
    report.problems.push_back(Problem{.message = error.what(), .path = error.path(), .rule = {}});
    return report;
  } catch (const RuleSetError& error) {
    report.fileExists = true;
    report.problems.push_back(
        Problem{.message = file.string() + ": " + error.what(), .path = {}, .rule = {}});
    return report;
  } catch (const std::system_error& error) {
    report.fileExists = true;  // it is there, only unreadable
    report.problems.push_back(Problem{.message = error.what(), .path = {}, .rule = {}});
    return report;
  }
  report.fileExists = notes.fileExists;
  report.ruleCount = set.rules.size();
  report.warnings = notes.unreadKeys;
  // A browsers.json that does not load is one warning itself, so the rest of the check still runs.
  try {
    const BrowserCatalog machine = catalog();
    for (Warning& warning : targetWarnings(set, machine, notes.hasStoredId)) {
      report.warnings.push_back(std::move(warning));
    }
    report.resolved = resolvedNames(set, machine);
  } catch (const std::exception& error) {
    report.warnings.push_back({"", std::string("targets not checked: ") + error.what()});
  }
  for (std::size_t i = 0; i < set.rules.size(); ++i) {
    const Rule& rule = set.rules[i];
    for (std::string& problem : ruleProblems(rule)) {
      report.problems.push_back(Problem{.message = std::move(problem),
                                        .path = {},
                                        .rule = Problem::RuleRef{i, rule.id, rule.name}});
    }
  }
  return report;
}

}  // namespace linkferry::RuleSetCheck
