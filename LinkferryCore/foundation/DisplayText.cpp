#include "foundation/DisplayText.h"

#include <cstddef>
#include <optional>

namespace linkferry::DisplayText {

namespace {

constexpr char kHexLower[] = "0123456789abcdef";
constexpr char kHexUpper[] = "0123456789ABCDEF";

struct Decoded {
  char32_t codePoint;
  std::size_t length;
};

// The code point that starts at `text[at]` in well-formed UTF-8 (RFC 3629: no overlong forms, no
// surrogates, nothing above U+10FFFF); nothing when the bytes there are not well-formed.
std::optional<Decoded> decode(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return Decoded{lead, 1};
  std::size_t length = 0;
  char32_t codePoint = 0;
  unsigned char low = 0x80, high = 0xbf;  // the allowed range of the second byte
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2, codePoint = lead & 0x1f;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3, codePoint = lead & 0x0f;
    if (lead == 0xe0) low = 0xa0;   // overlong
    if (lead == 0xed) high = 0x9f;  // surrogates
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4, codePoint = lead & 0x07;
    if (lead == 0xf0) low = 0x90;   // overlong
    if (lead == 0xf4) high = 0x8f;  // above U+10FFFF
  } else {
    return std::nullopt;
  }
  if (text.size() - at < length) return std::nullopt;
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char next = byte(i);
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xbf)) return std::nullopt;
    codePoint = (codePoint << 6) | (next & 0x3f);
  }
  return Decoded{codePoint, length};
}

void appendByte(std::string& result, unsigned char byte) {
  result.append("\\x");
  result.push_back(kHexLower[byte >> 4]);
  result.push_back(kHexLower[byte & 0xf]);
}

void appendCodePoint(std::string& result, char32_t codePoint) {
  int digits = 4;
  while (digits < 6 && (codePoint >> (4 * digits)) != 0) ++digits;
  result.append("\\u{");
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) {
    result.push_back(kHexUpper[(codePoint >> shift) & 0xf]);
  }
  result.push_back('}');
}

}  // namespace

bool isControl(char32_t c) noexcept {
  return c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x061c || c == 0x200e || c == 0x200f ||
         (c >= 0x2028 && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
}

std::string escaped(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  std::size_t at = 0;
  while (at < text.size()) {
    const std::optional<Decoded> decoded = decode(text, at);
    if (!decoded) {
      appendByte(result, static_cast<unsigned char>(text[at]));
      ++at;
      continue;
    }
    const char32_t c = decoded->codePoint;
    if (c == '\\') {
      result.append("\\\\");
    } else if (c < 0x20 || c == 0x7f) {
      appendByte(result, static_cast<unsigned char>(c));
    } else if (isControl(c)) {
      appendCodePoint(result, c);
    } else {
      result.append(text.substr(at, decoded->length));
    }
    at += decoded->length;
  }
  return result;
}

}  // namespace linkferry::DisplayText
