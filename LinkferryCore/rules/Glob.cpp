#include "rules/Glob.h"

#include <cstddef>
#include <optional>
#include <vector>

#include "foundation/Text.h"

namespace linkferry::Glob {
namespace {

template <class Sequence>
bool walk(const Sequence& pattern, const Sequence& text) {
  std::size_t t = 0, p = 0;
  std::optional<std::size_t> star;
  std::size_t starText = 0;
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == "?" || pattern[p] == text[t])) {
      ++t;
      ++p;
    } else if (p < pattern.size() && pattern[p] == "*") {
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
  while (p < pattern.size() && pattern[p] == "*") ++p;
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

// Single bytes viewed as one-character strings, so both paths share one walk.
struct ByteSequence {
  std::string_view bytes;
  std::size_t size() const { return bytes.size(); }
  std::string_view operator[](std::size_t i) const { return bytes.substr(i, 1); }
};

}  // namespace

bool wildcard(std::string_view pattern, std::string_view text) {
  if (isPrintableASCII(pattern) && isPrintableASCII(text)) {
    return walk(ByteSequence{pattern}, ByteSequence{text});
  }
  return walk(Text::characters(pattern), Text::characters(text));
}

}  // namespace linkferry::Glob
