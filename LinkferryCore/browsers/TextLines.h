#pragma once

#include <cstddef>
#include <string_view>

namespace linkferry {

// Calls `handle(line)` for each line of `text`. Lines end at any of LF, VT, FF, CR, NEL (U+0085),
// LS (U+2028) and PS (U+2029), so "\r\n" ends a line and leaves an empty one, which callers skip
// like any blank line. The text need not be valid UTF-8.
template <typename Handler>
void forEachLine(std::string_view text, Handler&& handle) {
  auto breakLength = [text](std::size_t i) -> std::size_t {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\n' || byte == '\v' || byte == '\f' || byte == '\r') return 1;
    if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x85) {
      return 2;
    }
    if (byte == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80) {
      const auto last = static_cast<unsigned char>(text[i + 2]);
      if (last == 0xA8 || last == 0xA9) return 3;
    }
    return 0;
  };
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size();) {
    if (std::size_t length = breakLength(i)) {
      handle(text.substr(start, i - start));
      i += length;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) handle(text.substr(start));
}

}  // namespace linkferry
