#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace linkferry {

// A compiled ICU regular expression (icu::RegexPattern). Immutable and safe to share between
// threads; a search reuses the matcher the pattern keeps when no other search holds it, so
// concurrent searches never share one. Offsets are UTF-8 byte offsets into the searched
// string. Searching is unanchored: a pattern matches anywhere unless it says "^" or "$".
// A search that backtracks for more than about a quarter of a second (ICU's match time limit)
// gives up and counts as no match, so a pathological user pattern cannot hang routing.
class Regex {
 public:
  enum class Options { none, caseInsensitive };

  struct Range {
    std::size_t begin = 0;
    std::size_t end = 0;
    bool operator==(const Range&) const = default;
  };
  struct Match {
    Range range;
    std::vector<std::optional<Range>>
        groups;  // capture groups 1...n; absent when a group took no part
  };

  // A text converted once to the form ICU searches, for texts that meet many patterns (one link
  // against a whole rule list). Holds its own copy; not tied to any pattern.
  class Subject {
   public:
    explicit Subject(std::string_view utf8);
    ~Subject();
    Subject(Subject&&) noexcept;
    Subject& operator=(Subject&&) noexcept;

   private:
    friend class Regex;
    struct Prepared;
    std::unique_ptr<const Prepared> m_prepared;
  };

  // Nothing when the pattern does not compile.
  static std::optional<Regex> compile(std::string_view pattern, Options options = Options::none);
  // The ICU error name for a pattern that does not compile ("U_REGEX_RULE_SYNTAX"), or nothing
  // when it compiles.
  static std::optional<std::string> compileError(std::string_view pattern,
                                                 Options options = Options::none);
  // The same compiled pattern from a process-wide, thread-safe cache; null when it does not
  // compile. Results are identical to compiling each time. The cache finds every pattern that
  // someone still holds (a loaded rule set keeps the patterns of its rules) and keeps the 1,024
  // most recently compiled ones itself, so any number of held patterns is found without
  // recompiling.
  static std::shared_ptr<const Regex> cached(std::string_view pattern,
                                             Options options = Options::none);

  const std::string& pattern() const { return m_pattern; }

  bool matches(std::string_view text) const;  // a match anywhere in the text
  bool matches(const Subject& subject) const;
  std::optional<Match> firstMatch(std::string_view text) const;
  std::optional<Match> firstMatch(const Subject& subject) const;
  // Every match replaced by `replacement`, an ICU template where "$1" is a capture group and
  // "\$" a dollar sign. Nothing when the template is malformed (a "$9" without group 9).
  std::optional<std::string> replacingAll(std::string_view text,
                                          std::string_view replacement) const;

  // The pattern that matches `text` literally (ICU's "\Q...\E" quoting, safe for any text).
  static std::string escaped(std::string_view text);

 private:
  struct Compiled;
  Regex(std::string pattern, std::shared_ptr<const Compiled> compiled);
  std::string m_pattern;
  std::shared_ptr<const Compiled> m_compiled;
};

}  // namespace linkferry
