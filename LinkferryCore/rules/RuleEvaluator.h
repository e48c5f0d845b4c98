#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Regex.h"
#include "foundation/URL.h"
#include "routing/LinkRequest.h"
#include "routing/RoutingContext.h"
#include "rules/Matcher.h"

// Whether a rule's condition holds for one link, and the validation of conditions for the editor.
// Evaluation never fails: whatever cannot be judged (no host, a pattern that does not compile, a
// malformed time) does not match. All functions are pure and may run on any thread at once.
namespace linkferry::RuleEvaluator {

// Where compiled regular expressions come from. Both give identical results; `cached` shares
// compiled patterns through the process-wide cache, `compiledEachTime` compiles at every use.
enum class Patterns { cached, compiledEachTime };

// The parts of one request that matchers read, each worked out at most once, so that walking a
// whole rule list costs one look at the link. Holds references: `request` and `context` must
// outlive it. Not for sharing between threads (it fills itself in as it is read).
class Subject {
 public:
  Subject(const LinkRequest& request, const RoutingContext& context,
          Patterns patterns = Patterns::cached);

  const LinkRequest& request() const { return m_request; }
  const RoutingContext& context() const { return m_context; }
  Patterns patterns() const { return m_patterns; }

  const std::optional<std::string>& host() const;            // as decoded
  const std::optional<std::string>& lowercasedHost() const;  // Unicode lower-casing
  const std::string& path() const;
  const std::vector<QueryItem>& queryItems() const;
  const std::optional<std::string>& lowercasedScheme() const;
  const std::optional<std::string>& lowercasedSourceApp() const;
  // The texts regular expressions search, prepared once for the whole rule list.
  const std::optional<Regex::Subject>& hostForSearch() const;
  const Regex::Subject& urlForSearch() const;
  const std::optional<Regex::Subject>& sourceWindowForSearch() const;

 private:
  const LinkRequest& m_request;
  const RoutingContext& m_context;
  Patterns m_patterns;
  mutable std::optional<std::optional<std::string>> m_host, m_lowercasedHost, m_lowercasedScheme,
      m_lowercasedSourceApp;
  mutable std::optional<std::optional<Regex::Subject>> m_hostForSearch, m_sourceWindowForSearch;
  mutable std::optional<Regex::Subject> m_urlForSearch;
  mutable std::optional<std::string> m_path;
  mutable std::optional<std::vector<QueryItem>> m_queryItems;
};

// Whether `matcher` holds for the request in its context. `all` and `any` stop at the first
// deciding member.
bool matches(const Matcher& matcher, const LinkRequest& request, const RoutingContext& context);
bool matches(const Matcher& matcher, const Subject& subject);

// The compiled regular expressions that evaluating `matcher` searches with, from the pattern
// cache, appended to `into` (patterns that do not compile are left out). Whoever holds them keeps
// the cache finding them: a loaded RuleSet holds those of its rules.
void collectPatterns(const Matcher& matcher, std::vector<std::shared_ptr<const Regex>>& into);

// Localised messages about regular expressions that do not compile and malformed time windows,
// in member order; empty when the matcher is well formed.
std::vector<std::string> problems(const Matcher& matcher);

}  // namespace linkferry::RuleEvaluator
