#include "rules/Glob.h"

#include <cstddef>
#include <optional>
#include <vector>

#include "foundation/Text.h"

namespace linkferry::Glob {
namespace {

bool isWildcard(char c, char wildcard) {
  return c == wildcard;
}
bool isWildcard(std::string_view c, char wildcard) {
  return c.size() == 1 && c[0] == wildcard;
}

// Works on bytes (printable ASCII, one character each) or on grapheme clusters alike.
template <class Sequence>
bool walk(const Sequence& pattern, const Sequence& text) {
  std::size_t t = 0, p = 0;
  std::optional<std::size_t> star;
  std::size_t starText = 0;
  while (t < text.size()) {
    if (p < pattern.size() && (isWildcard(pattern[p], '?') || pattern[p] == text[t])) {
      ++t;
      ++p;
    } else if (p < pattern.size() && isWildcard(pattern[p], '*')) {
      star = p;
      starText = t;
      ++p;
    } else if (star) {
      p = *star + 1;
      t = ++starText;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && isWildcard(pattern[p], '*')) ++p;
  return p == pattern.size();
}

// Printable ASCII is one user-perceived character per byte (only CR LF joins two ASCII bytes,
// and control characters are left to the full segmentation).
bool isPrintableASCII(std::string_view text) {
  for (char c : text) {
    if (c < 0x20 || c > 0x7e) return false;
  }
  return true;
}

}  // namespace

bool wildcard(std::string_view pattern, std::string_view text) {
  if (isPrintableASCII(pattern) && isPrintableASCII(text)) {
    // The usual host pattern, "*.example.com": one leading star and nothing else to match is a
    // plain suffix test, without the walk's backtracking over every position of the text.
    if (!pattern.empty() && pattern.front() == '*' &&
        pattern.find('*', 1) == std::string_view::npos &&
        pattern.find('?') == std::string_view::npos) {
      return text.ends_with(pattern.substr(1));
    }
    return walk(pattern, text);
  }
  return walk(Text::characters(pattern), Text::characters(text));
}

}  // namespace linkferry::Glob
