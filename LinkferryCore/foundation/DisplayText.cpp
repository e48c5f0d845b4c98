#include "foundation/DisplayText.h"

#include <algorithm>
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

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The byte a "%HH" escape at `at` stands for; nothing when there is no escape there.
std::optional<unsigned char> escapeAt(std::string_view text, std::size_t at) {
  if (at + 3 > text.size() || text[at] != '%') return std::nullopt;
  const int high = hexValue(text[at + 1]);
  const int low = hexValue(text[at + 2]);
  if (high < 0 || low < 0) return std::nullopt;
  return static_cast<unsigned char>(high * 16 + low);
}

}  // namespace

bool isControl(char32_t c) noexcept {
  return c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x061c || c == 0x200e || c == 0x200f ||
         (c >= 0x2028 && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
}

bool isDeceptiveInLink(char32_t c) noexcept {
  auto in = [c](char32_t low, char32_t high) { return c >= low && c <= high; };
  if (isControl(c)) return true;
  // Spaces and characters that show nothing.
  if (c == 0xa0 || c == 0xad || c == 0x34f || c == 0x115f || c == 0x1160 || c == 0x1680 ||
      in(0x17b4, 0x17b5) || in(0x180b, 0x180f) || in(0x2000, 0x200f) || c == 0x202f ||
      in(0x205f, 0x206f) || c == 0x2800 || c == 0x3000 || c == 0x3164 || in(0xfe00, 0xfe0f) ||
      c == 0xfeff || c == 0xffa0 || in(0xfff0, 0xfffd) || in(0x1bca0, 0x1bca3) ||
      in(0x1d173, 0x1d17a) || in(0xe0000, 0xe0fff)) {
    return true;
  }
  // Look-alikes of "/", "\", "?", "#", "&", "=", "%", "@", "." and ":", and the combining
  // slashes that strike through the letter before them.
  if (c == 0x2044 || c == 0x2215 || c == 0x2216 || c == 0x2571 || c == 0x29f5 || c == 0x29f8 ||
      c == 0x29f9 || c == 0xff0f || c == 0xff3c || c == 0xfe68 || c == 0xff1f || c == 0xfe56 ||
      c == 0xff03 || c == 0xfe5f || c == 0xff06 || c == 0xfe60 || c == 0xff1d || c == 0xfe66 ||
      c == 0xff05 || c == 0xfe6a || c == 0xff20 || c == 0xfe6b || c == 0xff0e || c == 0x2024 ||
      c == 0xfe52 || c == 0x3002 || c == 0xff61 || c == 0xff1a || c == 0xfe55 || c == 0x2236 ||
      c == 0xa789 || c == 0x0589 || c == 0x05c3 || c == 0x0337 || c == 0x0338 || c == 0x20e5) {
    return true;
  }
  // Private use and noncharacters: no reader knows what they look like.
  if (in(0xe000, 0xf8ff) || in(0xf0000, 0x10ffff) || in(0xfdd0, 0xfdef) || (c & 0xfffe) == 0xfffe) {
    return true;
  }
  return false;
}

std::string readablePercentEncoding(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  std::size_t at = 0;
  while (at < text.size()) {
    const std::optional<unsigned char> lead = escapeAt(text, at);
    if (!lead || *lead < 0x80) {
      result.push_back(text[at]);
      ++at;
      continue;
    }
    // The bytes of the escapes from here on, as many as one UTF-8 sequence can take.
    std::string bytes(1, static_cast<char>(*lead));
    for (std::size_t next = at + 3; bytes.size() < 4; next += 3) {
      const std::optional<unsigned char> byte = escapeAt(text, next);
      if (!byte || *byte < 0x80) break;
      bytes.push_back(static_cast<char>(*byte));
    }
    const std::optional<Decoded> decoded = decode(bytes, 0);
    if (decoded && !isDeceptiveInLink(decoded->codePoint)) {
      result.append(bytes, 0, decoded->length);
      at += 3 * decoded->length;
    } else {
      // Not UTF-8 here, or a character that must stay visible as its escapes: the escape of
      // the first byte stays, and decoding goes on after it.
      result.append(text.substr(at, 3));
      at += 3;
    }
  }
  return result;
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

std::string pasteable(std::string_view text) {
  const std::string shown = escaped(text);
  // Nothing but the backslashes was escaped: the text is safe on a terminal as it is.
  const auto backslashes = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\\'));
  return shown.size() == text.size() + backslashes ? std::string(text) : shown;
}

}  // namespace linkferry::DisplayText
