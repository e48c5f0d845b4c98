#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Dates.h"
#include "foundation/Json.h"
#include "rules/Rule.h"

namespace linkferry {

class Regex;
class RuleIndex;
struct LinkRequest;
struct RoutingContext;
struct RouteTarget;

// Something a rule file holds that loads but will not do what its writer meant (see RuleSetCheck).
struct RuleSetWarning {
  // The key path ("rules[0].action.open"), empty for the top level.
  std::string path;
  std::string message;

  // "<path>: <message>", or the message alone at the top level.
  std::string text() const;
  bool operator==(const RuleSetWarning&) const = default;
};

// The user's rules, the content of rules.json. The order of `rules` is their priority: the first
// active rule that matches decides. An immutable value once built; share it as
// std::shared_ptr<const RuleSet>.
struct RuleSet {
  static constexpr std::int64_t currentVersion = 1;

  std::int64_t version = currentVersion;
  std::vector<Rule> rules = {};

  // The compiled regular expressions of the rules (conditions and rewrites), held for as long as
  // this set or a copy of it lives, so that the process-wide pattern cache finds every one of them
  // however long the list: evaluation time grows with the rule count alone. Derived from `rules`,
  // so equality and hashing ignore it.
  struct CompiledPatterns {
    std::shared_ptr<const std::vector<std::shared_ptr<const Regex>>> held;
    bool operator==(const CompiledPatterns&) const { return true; }
  };
  CompiledPatterns compiledPatterns = {};

  // Compiles and holds the patterns of `rules` as they are now. `fromJson` (and so `load` and
  // `decode`) does it; a set built in code calls it once the rules are in place.
  void compilePatterns();

  // What a load saw beside the rules, for those who report on the file (`rules check`).
  struct LoadNotes {
    bool fileExists = false;
    // Keys that nothing read (RuleSetCheck::unreadKeys).
    std::vector<RuleSetWarning> unreadKeys = {};
    // Per rule: whether the file gave its `id` (a missing one is made up afresh on every load).
    std::vector<bool> hasStoredId = {};
  };

  // Reads the rule file. A missing file gives an empty set of the current version (no file is
  // created). Throws std::system_error when the file cannot be read, JsonError (naming the file
  // and the key path) when it is malformed, and RuleSetError when its version is 2 or more.
  // Nothing is loaded partially. Unknown keys are ignored; `notes`, when given, collects them.
  static RuleSet load(const std::filesystem::path& file, LoadNotes* notes = nullptr);
  // Decodes rule-file text as `load` does; `fileName` names the source in errors.
  static RuleSet decode(std::string_view text, std::string_view fileName,
                        LoadNotes* notes = nullptr);

  // Writes the set atomically (missing folders created): either the old or the new file is on
  // disk at every moment. Throws std::system_error on failure, leaving the old file as it was.
  void save(const std::filesystem::path& file) const;
  // The rule-file text: pretty-printed, keys sorted, "/" not escaped, `version` as stored.
  std::string encode() const;
  // The rule-file text for this set written as an edit of `text`, the file `stored` was decoded
  // from, so that a rule added to the user's file leaves the rest as its writer wrote it: the
  // stored rules this set keeps (equal, in their stored order) keep their text byte for byte
  // with the separators between them, every other key stays as written, new rules are written
  // in the canonical form (keys sorted) indented like the first rule, and rules left out are cut
  // with their separator. `encode()` when the text cannot be edited so: it is not cut cleanly
  // into its rules or the version changed.
  std::string encodeEditing(std::string_view text, const RuleSet& stored) const;

  JsonValue toJson() const;
  // `version` (an integer, checked before anything else) and `rules` are required.
  static RuleSet fromJson(const JsonReader& json);

  // A copy without the expired rules (Rule::isExpired), keeping order and version.
  RuleSet removingExpired(Date now) const;

  // The first rule, in order, that is active at `context.now`, whose action sends links to
  // `target` (an `open` of an equal browser target or an `openInApp` of the same bundle
  // identifier), and whose condition matches. Nothing for `openLink` and `ignore` targets.
  std::optional<Rule> decidingRule(const RouteTarget& target, const LinkRequest& request,
                                   const RoutingContext& context) const;
  // The same, looking only at the rules `index` (built from `rules`) cannot rule out.
  std::optional<Rule> decidingRule(const RouteTarget& target, const LinkRequest& request,
                                   const RoutingContext& context, const RuleIndex& index) const;

  bool operator==(const RuleSet&) const = default;
};

}  // namespace linkferry

template <>
struct std::hash<linkferry::RuleSet> {
  std::size_t operator()(const linkferry::RuleSet& set) const noexcept {
    std::size_t hash = std::hash<std::int64_t>()(set.version);
    for (const auto& rule : set.rules) {
      hash ^=
          std::hash<linkferry::Rule>()(rule) + 0x9e3779b97f4a7c15ull + (hash << 6) + (hash >> 2);
    }
    return hash;
  }
};
