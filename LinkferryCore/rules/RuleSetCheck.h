#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "browsers/BrowserCatalog.h"
#include "foundation/Json.h"
#include "rules/Rule.h"
#include "rules/RuleSet.h"

// What is wrong with a rule file. Problems keep the file, or one of its rules, from working: the
// file does not load, or a rule has a malformed pattern, time window or rewrite. Warnings are what
// loading accepts but that will not do what its writer meant: keys that nothing reads, and targets
// this machine does not have. Warnings are never load errors: a rule file stays loadable on a
// machine without one of its browsers, and a file written by a later version with more keys still
// loads here.
namespace linkferry::RuleSetCheck {

using Warning = RuleSetWarning;

// Every key of a decoded rule-file document that loading does not read, in document order (keys of
// one object alphabetically): "unknown key "private" (ignored)", or for a rewrite key that the
// rewrite's form sets aside "key "regex" is not read beside "host" (ignored)". Only the shapes that
// loading accepted are walked; anything else is left alone. Never fails.
std::vector<Warning> unreadKeys(const JsonValue& document);

// Each rule checked against the browsers of `catalog`: an empty name, an `id` used by an earlier
// rule, and for every target of `open` and `prompt` an empty browser identifier, a browser not in
// the catalog, a profile its browser does not have, a container on a browser that is no Firefox or
// one no profile of the browser holds, and a name that fits several. Targets are judged as
// routing uses them: browser, profile and container names resolved (BrowserCatalog::resolve).
// Profiles of a browser whose data may not be read are not judged. `hasStoredId[i]` tells whether
// rule i had an `id` in the file (ids made up on load are never duplicates); a shorter list
// counts as stored.
std::vector<Warning> targetWarnings(const RuleSet& set, const BrowserCatalog& catalog,
                                    const std::vector<bool>& hasStoredId = {});

// The warnings about one target, without its rule: what `targetWarnings` says about it. The
// target may use names or identifiers.
std::vector<std::string> targetProblems(const BrowserTarget& target, const BrowserCatalog& catalog);

// For every target of `open` and `prompt` written with a name rather than its identifier, what
// the name stands for on this machine (`profile "Work" is "Profile 1"`), for the rule it is in.
// Not warnings: names are as good as identifiers.
std::vector<Warning> resolvedNames(const RuleSet& set, const BrowserCatalog& catalog);

// One problem: a file that does not load, or one thing wrong with a rule.
struct Problem {
  // The rule a problem is in: its index in the file, its id and its name.
  struct RuleRef {
    std::size_t index = 0;
    std::string id;
    std::string name;
    bool operator==(const RuleRef&) const = default;
  };

  std::string message;
  // For a file that is no valid JSON or no valid rule file: the key path of the error
  // ("rules[2].match"), empty at the top level.
  std::optional<std::string> path;
  // For a problem of one rule, that rule.
  std::optional<RuleRef> rule;

  // `rules[2] “name”: message` for a rule's problem, else the message.
  std::string text() const;
  // {"rule", "id", "name", "message"} for a rule's problem, {"message", "path"} for one with a
  // key path, else {"message"}.
  JsonValue toJson() const;
  bool operator==(const Problem&) const = default;
};

// Everything `check` found in a rule file.
struct Report {
  bool fileExists = false;  // also true for a file that exists but does not load
  std::size_t ruleCount = 0;
  std::vector<Problem> problems;
  std::vector<Warning> warnings;  // unread keys first, then the targets' warnings
  // What the names in targets stand for (resolvedNames); empty when the targets were not checked.
  std::vector<Warning> resolved = {};
};

// Every problem of one rule, in the order the editor shows them: its condition's malformed
// patterns and time windows (RuleEvaluator::problems), then its rewrite's.
std::vector<std::string> ruleProblems(const Rule& rule);

// Loads the rule file and checks it. A file that does not load is one problem: a JsonError's
// message with its key path, a RuleSetError's description after "<file>: ", or the reason it
// cannot be read; a missing file is none (`fileExists` false). A file that loads gives each rule's
// problems, and as warnings its unread keys and `targetWarnings` against the catalog `catalog`
// makes, and what names in targets stand for; that is called only then, and when it throws, its message becomes the one warning
// "targets not checked: <message>" at the top level. Never throws for the file.
Report check(const std::filesystem::path& file, const std::function<BrowserCatalog()>& catalog);

}  // namespace linkferry::RuleSetCheck
