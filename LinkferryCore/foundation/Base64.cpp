#include "foundation/Base64.h"

#include <array>
#include <cstdint>

namespace linkferry::Base64 {
namespace {

constexpr std::string_view kStandard =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::string_view kURLSafe =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

std::string encodeWith(std::string_view bytes, std::string_view alphabet, bool pad) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  auto at = [&](std::size_t index) { return static_cast<std::uint8_t>(bytes[index]); };
  for (; i + 3 <= bytes.size(); i += 3) {
    std::uint32_t group = (at(i) << 16) | (at(i + 1) << 8) | at(i + 2);
    out += alphabet[(group >> 18) & 63];
    out += alphabet[(group >> 12) & 63];
    out += alphabet[(group >> 6) & 63];
    out += alphabet[group & 63];
  }
  std::size_t rest = bytes.size() - i;
  if (rest == 1) {
    std::uint32_t group = at(i) << 16;
    out += alphabet[(group >> 18) & 63];
    out += alphabet[(group >> 12) & 63];
    if (pad) out += "==";
  } else if (rest == 2) {
    std::uint32_t group = (at(i) << 16) | (at(i + 1) << 8);
    out += alphabet[(group >> 18) & 63];
    out += alphabet[(group >> 12) & 63];
    out += alphabet[(group >> 6) & 63];
    if (pad) out += '=';
  }
  return out;
}

using Table = std::array<std::int8_t, 256>;

Table tableFor(std::string_view alphabet) {
  Table table;
  table.fill(-1);
  for (std::size_t i = 0; i < alphabet.size(); ++i) {
    table[static_cast<std::uint8_t>(alphabet[i])] = static_cast<std::int8_t>(i);
  }
  return table;
}

// Decodes unpadded text: every character must be in the alphabet, the length may not leave a
// single character over, and the bits past the last whole byte must be zero (RFC 4648 section 3.5
// lets decoders reject such non-canonical text, and we do, so one payload has one spelling).
std::optional<std::string> decodeUnpadded(std::string_view text, const Table& table) {
  if (text.size() % 4 == 1) return std::nullopt;
  std::string out;
  out.reserve(text.size() / 4 * 3 + 2);
  std::uint32_t buffer = 0;
  int bits = 0;
  for (char c : text) {
    std::int8_t value = table[static_cast<std::uint8_t>(c)];
    if (value < 0) return std::nullopt;
    buffer = (buffer << 6) | static_cast<std::uint32_t>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((buffer >> bits) & 0xFF);
    }
  }
  if (bits > 0 && (buffer & ((1u << bits) - 1)) != 0) return std::nullopt;
  return out;
}

}  // namespace

std::string encode(std::string_view bytes) { return encodeWith(bytes, kStandard, true); }

std::optional<std::string> decode(std::string_view text) {
  static const Table table = tableFor(kStandard);
  if (text.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') ++padding;
  return decodeUnpadded(text.substr(0, text.size() - padding), table);
}

std::string encodeURLUnpadded(std::string_view bytes) { return encodeWith(bytes, kURLSafe, false); }

std::optional<std::string> decodeURLUnpadded(std::string_view text) {
  static const Table table = tableFor(kURLSafe);
  return decodeUnpadded(text, table);
}

}  // namespace linkferry::Base64
