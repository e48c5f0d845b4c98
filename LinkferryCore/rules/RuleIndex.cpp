#include "rules/RuleIndex.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "foundation/Overloaded.h"
#include "foundation/Text.h"

namespace linkferry {
namespace {

using Field = RuleIndex::Field;

struct Key {
  Field field;
  std::string text;
};

// The keys of which a link must have at least one for a condition to hold: nothing when the
// condition pins no part of the link, an empty list when it never holds.
using Requirement = std::optional<std::vector<Key>>;

bool hasWildcard(std::string_view pattern) {
  return pattern.find_first_of("*?") != std::string_view::npos;
}

bool isTextField(Field field) {
  return field == Field::hostText || field == Field::linkText || field == Field::windowText;
}

bool isASCII(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char asciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The text after `open` ("[" or "(") up to its matching close, nested brackets and escapes
// passed over; the position after the close, or nothing when it is missing.
std::optional<std::size_t> skipBracketed(std::string_view pattern, std::size_t open) {
  const char opening = pattern[open];
  const char closing = opening == '[' ? ']' : ')';
  // Whether a "]" first in a set closes it or stands for itself is not read here.
  if (opening == '[' &&
      (pattern.substr(open + 1, 1) == "]" || pattern.substr(open + 1, 2) == "^]")) {
    return std::nullopt;
  }
  int depth = 0;
  for (std::size_t i = open; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '\\') {
      ++i;
    } else if (c == '[' && opening == '(') {
      // A set inside a group may hold an unbalanced parenthesis.
      auto end = skipBracketed(pattern, i);
      if (!end) return std::nullopt;
      i = *end - 1;
    } else if (c == opening) {
      ++depth;
    } else if (c == closing && --depth == 0) {
      return i + 1;
    }
  }
  return std::nullopt;
}

// Plain text that every match of an ICU regular expression contains, lower-cased (ASCII only,
// at least three letters), read from the top level of the expression: runs of letters, digits
// and punctuation that stand for themselves, not made optional or repeated by a quantifier.
// Groups and sets are passed over whole. Nothing when there is none, or when the expression uses
// forms this reading does not follow (alternation at the top level, quoting, flags, escapes
// that stand for other characters).
std::optional<std::string> requiredText(std::string_view pattern) {
  if (pattern.find("\\Q") != std::string_view::npos) return std::nullopt;
  for (std::size_t at = pattern.find("(?"); at != std::string_view::npos;
       at = pattern.find("(?", at + 1)) {
    if (at + 2 >= pattern.size() || pattern[at + 2] != ':') return std::nullopt;
  }
  std::string best, run;
  auto endRun = [&] {
    if (run.size() > best.size()) best = run;
    run.clear();
  };
  static constexpr std::string_view kItself = "-/_:=&%@~,;!'\"<>";
  for (std::size_t i = 0; i < pattern.size();) {
    const char c = pattern[i];
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\') {
      if (i + 1 >= pattern.size()) return std::nullopt;
      const char escaped = pattern[i + 1];
      const auto escapedByte = static_cast<unsigned char>(escaped);
      if (escapedByte >= 0x80) return std::nullopt;
      if (std::isalnum(escapedByte)) {
        // Classes and anchors of one letter; every other lettered escape is left unread.
        if (std::string_view("dDwWsSbBAzZG").find(escaped) == std::string_view::npos) {
          return std::nullopt;
        }
        endRun();
      } else {
        run += escaped;  // escaped punctuation stands for itself
      }
      i += 2;
    } else if (c == '[' || c == '(') {
      endRun();
      auto end = skipBracketed(pattern, i);
      if (!end) return std::nullopt;
      i = *end;
    } else if (c == '*' || c == '?' || c == '+' || c == '{') {
      // The item before a quantifier may be missing or repeated.
      if (!run.empty()) run.pop_back();
      endRun();
      if (c == '{') {
        const std::size_t close = pattern.find('}', i);
        if (close == std::string_view::npos) return std::nullopt;
        i = close + 1;
      } else {
        ++i;
      }
    } else if (c == '|' || c == ')') {
      return std::nullopt;
    } else if (byte < 0x80 && (std::isalnum(byte) || kItself.find(c) != std::string_view::npos)) {
      run += asciiLower(c);
      ++i;
    } else {
      endRun();  // anchors, any character, blanks, other punctuation, non-ASCII characters
      ++i;
    }
  }
  endRun();
  if (best.size() < 3) return std::nullopt;
  return best;
}

// Lower-cased as the evaluator lower-cases rule texts (lower-case ASCII stays as it is).
std::string lowered(const std::string& text) {
  return Text::lowercased(text);
}

// Fewer and more selective keys first; a condition that never holds is the best of all.
bool moreSelective(const std::vector<Key>& a, const std::vector<Key>& b) {
  auto worst = [](const std::vector<Key>& keys) {
    Field field = Field::host;
    for (const Key& key : keys) field = std::max(field, key.field);
    return field;
  };
  if (a.empty() || b.empty()) return a.empty() && !b.empty();
  return std::pair(worst(a), a.size()) < std::pair(worst(b), b.size());
}

Requirement requirement(const Matcher& matcher) {
  auto one = [](Field field, std::string text) -> Requirement {
    return std::vector<Key>{Key{field, std::move(text)}};
  };
  return std::visit(
      Overloaded{
          [&](const Matcher::Host& m) -> Requirement {
            std::string pattern = lowered(m.pattern);
            // Without wildcards the glob is plain equality.
            if (!hasWildcard(pattern)) return one(Field::host, std::move(pattern));
            // "*.example.com" holds for example.com and for hosts ending in ".example.com".
            if (Text::startsWith(pattern, "*.") && !hasWildcard(pattern.substr(2))) {
              return one(Field::domain, pattern.substr(2));
            }
            return std::nullopt;
          },
          [&](const Matcher::PathPrefix& m) -> Requirement {
            return one(Field::pathPrefix, m.prefix.substr(0, RuleIndex::kPathKeyLength));
          },
          [&](const Matcher::Scheme& m) { return one(Field::scheme, lowered(m.value)); },
          [&](const Matcher::Query& m) { return one(Field::queryName, m.key); },
          [&](const Matcher::SourceApp& m) { return one(Field::sourceApp, lowered(m.bundleID)); },
          [&](const Matcher::Network& m) { return one(Field::network, m.name); },
          [&](const Matcher::HostRegex& m) -> Requirement {
            if (auto text = requiredText(m.expression)) return one(Field::hostText, *text);
            return std::nullopt;
          },
          [&](const Matcher::URLRegex& m) -> Requirement {
            if (auto text = requiredText(m.expression)) return one(Field::linkText, *text);
            return std::nullopt;
          },
          [&](const Matcher::SourceWindow& m) -> Requirement {
            if (auto text = requiredText(m.expression)) return one(Field::windowText, *text);
            return std::nullopt;
          },
          [&](const Matcher::All& m) -> Requirement {
            // Every member must hold, so the most selective pinned member pins the whole.
            Requirement best;
            for (const Matcher& member : m.members) {
              Requirement candidate = requirement(member);
              if (candidate && (!best || moreSelective(*candidate, *best)))
                best = std::move(candidate);
            }
            return best;
          },
          [&](const Matcher::Any& m) -> Requirement {
            // One member must hold: pinned only when every member is.
            std::vector<Key> keys;
            for (const Matcher& member : m.members) {
              Requirement part = requirement(member);
              if (!part) return std::nullopt;
              for (Key& key : *part) keys.push_back(std::move(key));
            }
            return keys;
          },
          [](const auto&) -> Requirement { return std::nullopt; },
      },
      matcher.value());
}

}  // namespace

RuleIndex::RuleIndex(const std::vector<Rule>& rules) {
  std::vector<Requirement> requirements;
  requirements.reserve(rules.size());
  for (const Rule& rule : rules) requirements.push_back(requirement(rule.match));
  // A required text is filed under the three letters of it that the fewest texts hold.
  std::array<std::unordered_map<std::string, std::size_t>, kFieldCount> pieceCounts;
  for (const Requirement& keys : requirements) {
    if (!keys) continue;
    for (const Key& key : *keys) {
      if (!isTextField(key.field)) continue;
      for (std::size_t i = 0; i + 3 <= key.text.size(); ++i) {
        ++pieceCounts[static_cast<std::size_t>(key.field)][key.text.substr(i, 3)];
      }
    }
  }
  for (Requirement& keys : requirements) {
    if (!keys) continue;
    for (Key& key : *keys) {
      if (!isTextField(key.field)) continue;
      const auto& counts = pieceCounts[static_cast<std::size_t>(key.field)];
      std::size_t rarest = 0;
      for (std::size_t i = 1; i + 3 <= key.text.size(); ++i) {
        if (counts.at(key.text.substr(i, 3)) < counts.at(key.text.substr(rarest, 3))) {
          rarest = i;
        }
      }
      key.text = key.text.substr(rarest, 3);
    }
  }
  for (std::size_t i = 0; i < rules.size(); ++i) {
    const auto position = static_cast<std::uint32_t>(i);
    if (!requirements[i]) {
      m_unfiled.push_back(position);
      continue;
    }
    for (const Key& key : *requirements[i]) {
      const auto field = static_cast<std::size_t>(key.field);
      // An `any` may name the same key twice; positions arrive in order.
      std::vector<std::uint32_t>& list = m_tables[field][key.text];
      if (list.empty() || list.back() != position) list.push_back(position);
      std::vector<std::uint32_t>& filed = m_filedUnder[field];
      if (isTextField(key.field) && (filed.empty() || filed.back() != position)) {
        filed.push_back(position);
      }
    }
  }
}

void RuleIndex::add(Field field, std::string_view key, Candidates& into) const {
  const Table& table = m_tables[static_cast<std::size_t>(field)];
  const auto found = table.find(key);
  if (found == table.end()) return;
  // A text may hold the same three letters more than once.
  for (const auto& list : into.m_lists) {
    if (list.data() == found->second.data()) return;
  }
  into.m_lists.emplace_back(found->second);
}

void RuleIndex::addPieces(Field field, std::string_view text, Candidates& into) const {
  if (m_tables[static_cast<std::size_t>(field)].empty()) return;
  // Case-insensitive matching relates ASCII letters to other characters too (the Kelvin sign to
  // "k", "ß" to "ss"); such texts keep every rule of the field.
  if (!isASCII(text)) {
    into.m_lists.emplace_back(m_filedUnder[static_cast<std::size_t>(field)]);
    return;
  }
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), asciiLower);
  for (std::size_t i = 0; i + 3 <= lower.size(); ++i) {
    add(field, std::string_view(lower).substr(i, 3), into);
  }
}

RuleIndex::Candidates RuleIndex::candidates(const RuleEvaluator::Subject& subject) const {
  Candidates result;
  if (!m_unfiled.empty()) result.m_lists.emplace_back(m_unfiled);
  auto has = [&](Field field) { return !m_tables[static_cast<std::size_t>(field)].empty(); };
  if (has(Field::host) || has(Field::domain)) {
    if (const auto& host = subject.lowercasedHost()) {
      add(Field::host, *host, result);
      add(Field::domain, *host, result);
      for (std::size_t dot = host->find('.'); dot != std::string::npos;
           dot = host->find('.', dot + 1)) {
        add(Field::domain, std::string_view(*host).substr(dot + 1), result);
      }
    }
  }
  if (const auto& host = subject.host()) addPieces(Field::hostText, *host, result);
  addPieces(Field::linkText, subject.request().url.absoluteString(), result);
  if (const auto& window = subject.request().sourceWindow) {
    addPieces(Field::windowText, *window, result);
  }
  if (has(Field::sourceApp)) {
    if (const auto& app = subject.lowercasedSourceApp()) add(Field::sourceApp, *app, result);
  }
  if (has(Field::queryName)) {
    for (const QueryItem& item : subject.queryItems()) add(Field::queryName, item.name, result);
  }
  if (has(Field::network)) {
    for (const std::string& network : subject.context().activeNetworks) {
      add(Field::network, network, result);
    }
  }
  if (has(Field::pathPrefix)) {
    const std::string_view path = subject.path();
    for (std::size_t length = 0; length <= std::min(path.size(), kPathKeyLength); ++length) {
      add(Field::pathPrefix, path.substr(0, length), result);
    }
  }
  if (has(Field::scheme)) {
    if (const auto& scheme = subject.lowercasedScheme()) add(Field::scheme, *scheme, result);
  }
  return result;
}

std::optional<std::size_t> RuleIndex::Candidates::next() {
  // A merge of ascending lists; a position found in several of them comes out once.
  std::optional<std::uint32_t> lowest;
  for (const auto& list : m_lists) {
    if (!list.empty() && (!lowest || list.front() < *lowest)) lowest = list.front();
  }
  if (!lowest) return std::nullopt;
  for (auto& list : m_lists) {
    if (!list.empty() && list.front() == *lowest) list = list.subspan(1);
  }
  return *lowest;
}

}  // namespace linkferry
