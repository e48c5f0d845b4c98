#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Unicode text helpers on UTF-8 strings, using ICU. Functions never throw; invalid UTF-8 is
// handled as stated on each.
namespace linkferry::Text {

// ICU full lower-casing in the root locale (never the user's: a Turkish "I" must not change
// host matching); ASCII-only text takes a fast path. Invalid UTF-8 is replaced by U+FFFD.
std::string lowercased(std::string_view text);
std::string uppercased(std::string_view text);

// The character sets the system trims with.
enum class TrimSet {
  whitespaceAndNewlines,  // the Unicode White_Space property
  whitespace,             // White_Space without line breaks (LF, VT, FF, CR, NEL, LS, PS)
  spacesAndTabs,          // " " and "\t" only
};
std::string_view trimmed(std::string_view text, TrimSet set = TrimSet::whitespaceAndNewlines);
bool isBlank(std::string_view text);  // empty after trimming white space and newlines

// User-perceived characters (ICU extended grapheme clusters).
std::size_t characterCount(std::string_view text);
std::vector<std::string_view> characters(std::string_view text);
std::string_view prefix(std::string_view text, std::size_t characterCount);  // at most that many
std::string_view suffix(std::string_view text, std::size_t characterCount);

bool isValidUTF8(std::string_view text);
// Invalid sequences replaced by U+FFFD.
std::string repairedUTF8(std::string_view text);
// The code points of a UTF-8 text; invalid sequences become U+FFFD.
std::u32string codePoints(std::string_view text);
std::string fromCodePoints(std::u32string_view codePoints);

// An optional sign, then decimal digits, nothing else, fitting in 64 bits; else nothing.
std::optional<std::int64_t> parseInteger(std::string_view text);

// The value of one hexadecimal digit (either case); -1 for any other character.
inline int hexDigitValue(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
// The shortest text that reads back as the same double ("0.1", "1e+21").
std::string formatDouble(double value);

bool startsWith(std::string_view text, std::string_view prefix);
bool endsWith(std::string_view text, std::string_view suffix);
bool contains(std::string_view text, std::string_view part);
// Splits at every occurrence of `separator`; empty pieces are kept.
std::vector<std::string_view> split(std::string_view text, char separator);
std::string join(const std::vector<std::string>& parts, std::string_view separator);
std::string replacingAll(std::string_view text, std::string_view from, std::string_view to);
// ASCII-only lower-casing, for protocol tokens such as schemes.
std::string asciiLowercased(std::string_view text);

}  // namespace linkferry::Text
