#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "rules/Rule.h"
#include "rules/RuleEvaluator.h"

namespace linkferry {

// Narrows a rule list down, for one link, to the rules that can match it, so that a long list is
// not walked rule by rule. Most conditions pin one part of the link to a few values: a host
// without wildcards, a "*." domain, a source app, a query item name, a network, a scheme, a path
// prefix (an `all` is pinned by its most selective member, an `any` only when every member is
// pinned). A regular expression is pinned by plain text that every one of its matches contains,
// when its form shows some ("^shop\.example\.com$" holds "shop.example.com"): such a rule is
// filed under the rarest three letters of that text. Those rules are filed under their values;
// the others are always candidates.
//
// A rule left out of `candidates` cannot match the link, so walking the candidates in order and
// evaluating each one in full gives exactly what walking every rule gives: the same first match,
// the same later matches, in the same order. Built from the rules as they are; the list must not
// change while the index is used. Immutable once built, readable from any thread.
class RuleIndex {
 public:
  explicit RuleIndex(const std::vector<Rule>& rules);

  // The positions in the rule list of the rules that may match the subject's link, ascending,
  // produced one at a time (a walk that stops at the first match touches no more).
  class Candidates {
   public:
    // The next position, or nothing when the candidates are used up.
    std::optional<std::size_t> next();

   private:
    friend class RuleIndex;
    std::vector<std::span<const std::uint32_t>> m_lists;
  };
  Candidates candidates(const RuleEvaluator::Subject& subject) const;

  // The parts of a link a rule can be filed under, from the most to the least selective.
  enum class Field : std::uint8_t {
    host,        // the lower-cased host, whole
    domain,      // the lower-cased host or what follows one of its dots ("*." patterns)
    sourceApp,   // the lower-cased source app
    queryName,   // the name of a query item
    hostText,    // three letters of the host (plain text every match of a host expression holds)
    linkText,    // three letters of the link text (the same for link expressions)
    windowText,  // three letters of the window title (the same for window title expressions)
    network,     // an active network
    pathPrefix,  // the path's first bytes, at most kPathKeyLength of them
    scheme,      // the lower-cased scheme
  };
  static constexpr std::size_t kFieldCount = 10;
  static constexpr std::size_t kPathKeyLength = 16;

 private:
  struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const noexcept {
      return std::hash<std::string_view>()(key);
    }
  };
  using Table =
      std::unordered_map<std::string, std::vector<std::uint32_t>, KeyHash, std::equal_to<>>;

  void add(Field field, std::string_view key, Candidates& into) const;
  void addPieces(Field field, std::string_view text, Candidates& into) const;

  std::array<Table, kFieldCount> m_tables;
  // Per text field, every rule filed under it: the candidates when a text is not plain ASCII.
  std::array<std::vector<std::uint32_t>, kFieldCount> m_filedUnder;
  std::vector<std::uint32_t> m_unfiled;
};

}  // namespace linkferry
