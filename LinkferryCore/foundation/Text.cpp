#include "foundation/Text.h"

#include <algorithm>
#include <charconv>
#include <memory>
#include <system_error>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

namespace linkferry::Text {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool isASCII(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The code point at `offset` and the offset after it; an ill-formed sequence gives U+FFFD and
// skips its maximal subpart, as the Unicode standard recommends.
char32_t nextCodePoint(std::string_view text, std::size_t& offset) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  auto index = static_cast<int32_t>(offset);
  UChar32 c;
  U8_NEXT(bytes, index, length, c);
  offset = static_cast<std::size_t>(index);
  return c < 0 ? kReplacement : static_cast<char32_t>(c);
}

// The code point that ends at `offset` and the offset where it begins; -1 for an ill-formed one.
int32_t previousCodePoint(std::string_view text, std::size_t& offset) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  auto index = static_cast<int32_t>(offset);
  UChar32 c;
  U8_PREV(bytes, 0, index, c);
  offset = static_cast<std::size_t>(index);
  return c;
}

void appendCodePoint(std::string& out, char32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacement;
  uint8_t buffer[4];
  int32_t length = 0;
  U8_APPEND_UNSAFE(buffer, length, c);
  out.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(length));
}

bool isLineBreak(UChar32 c) {
  return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool inTrimSet(int32_t c, TrimSet set) {
  if (c < 0) return false;
  switch (set) {
    case TrimSet::whitespaceAndNewlines:
      return u_isUWhiteSpace(c);
    case TrimSet::whitespace:
      return u_isUWhiteSpace(c) && !isLineBreak(c);
    case TrimSet::spacesAndTabs:
      return c == ' ' || c == '\t';
  }
  return false;
}

icu::UnicodeString toUnicode(std::string_view text) {
  // fromUTF8 replaces ill-formed sequences by U+FFFD.
  return icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string toUTF8(const icu::UnicodeString& text) {
  std::string out;
  text.toUTF8String(out);
  return out;
}

// One grapheme-cluster iterator per thread, cloned from a prototype made once (creating one
// loads the rules, cloning is cheap). Break iterators are not thread-safe, hence per thread.
icu::BreakIterator* characterIterator() {
  static icu::BreakIterator* const prototype = [] {
    UErrorCode status = U_ZERO_ERROR;
    icu::BreakIterator* made =
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status);
    if (U_FAILURE(status)) {
      delete made;
      return static_cast<icu::BreakIterator*>(nullptr);
    }
    return made;
  }();
  thread_local std::unique_ptr<icu::BreakIterator> iterator(prototype ? prototype->clone()
                                                                      : nullptr);
  return iterator.get();
}

// Calls `boundary(offset)` for each cluster boundary after the start, in order, until it returns
// false. ASCII text needs no ICU: every byte is a cluster except that CR LF is one.
template <typename Visit>
void forEachBoundary(std::string_view text, Visit&& boundary) {
  if (text.empty()) return;
  if (isASCII(text)) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      if (!boundary(i + 1)) return;
    }
    return;
  }
  icu::BreakIterator* iterator = characterIterator();
  UErrorCode status = U_ZERO_ERROR;
  UText utext = UTEXT_INITIALIZER;
  utext_openUTF8(&utext, text.data(), static_cast<int64_t>(text.size()), &status);
  if (iterator != nullptr && U_SUCCESS(status)) iterator->setText(&utext, status);
  if (iterator == nullptr || U_FAILURE(status)) {
    // Without ICU's data every code point counts as a character.
    utext_close(&utext);
    std::size_t offset = 0;
    while (offset < text.size()) {
      nextCodePoint(text, offset);
      if (!boundary(offset)) return;
    }
    return;
  }
  // The UText over UTF-8 reports native indices, which are our byte offsets. The iterator keeps
  // a shallow clone of the UText, which is never read again before the next setText.
  for (int32_t next = iterator->next(); next != icu::BreakIterator::DONE; next = iterator->next()) {
    if (!boundary(static_cast<std::size_t>(next))) break;
  }
  utext_close(&utext);
}

}  // namespace

std::string lowercased(std::string_view text) {
  if (isASCII(text)) return asciiLowercased(text);
  icu::UnicodeString unicode = toUnicode(text);
  unicode.toLower(icu::Locale::getRoot());
  return toUTF8(unicode);
}

std::string uppercased(std::string_view text) {
  if (isASCII(text)) {
    std::string out(text);
    for (char& c : out) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
  }
  icu::UnicodeString unicode = toUnicode(text);
  unicode.toUpper(icu::Locale::getRoot());
  return toUTF8(unicode);
}

std::string_view trimmed(std::string_view text, TrimSet set) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    auto index = static_cast<int32_t>(begin);
    UChar32 c;
    U8_NEXT(bytes, index, static_cast<int32_t>(text.size()), c);
    if (!inTrimSet(c, set)) break;
    begin = static_cast<std::size_t>(index);
  }
  std::size_t end = text.size();
  while (end > begin) {
    std::size_t start = end;
    const int32_t c = previousCodePoint(text, start);
    if (start < begin || !inTrimSet(c, set)) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

bool isBlank(std::string_view text) {
  return trimmed(text).empty();
}

std::size_t characterCount(std::string_view text) {
  std::size_t count = 0;
  forEachBoundary(text, [&](std::size_t) {
    ++count;
    return true;
  });
  return count;
}

std::vector<std::string_view> characters(std::string_view text) {
  std::vector<std::string_view> result;
  std::size_t start = 0;
  forEachBoundary(text, [&](std::size_t boundary) {
    result.push_back(text.substr(start, boundary - start));
    start = boundary;
    return true;
  });
  return result;
}

std::string_view prefix(std::string_view text, std::size_t count) {
  if (count == 0) return text.substr(0, 0);
  std::size_t seen = 0;
  std::size_t end = text.size();
  forEachBoundary(text, [&](std::size_t boundary) {
    if (++seen < count) return true;
    end = boundary;
    return false;
  });
  return text.substr(0, end);
}

std::string_view suffix(std::string_view text, std::size_t count) {
  if (count == 0) return text.substr(text.size());
  // Cluster boundaries depend on what precedes them, so walk forward and keep the last `count`.
  std::vector<std::size_t> starts;
  std::size_t start = 0;
  forEachBoundary(text, [&](std::size_t boundary) {
    starts.push_back(start);
    start = boundary;
    return true;
  });
  if (starts.size() <= count) return text;
  return text.substr(starts[starts.size() - count]);
}

bool isValidUTF8(std::string_view text) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  for (int32_t index = 0; index < length;) {
    if (bytes[index] < 0x80) {
      ++index;
      continue;
    }
    UChar32 c;
    U8_NEXT(bytes, index, length, c);
    if (c < 0) return false;
  }
  return true;
}

std::string repairedUTF8(std::string_view text) {
  if (isValidUTF8(text)) return std::string(text);
  std::string out;
  out.reserve(text.size() + 8);
  for (std::size_t offset = 0; offset < text.size();)
    appendCodePoint(out, nextCodePoint(text, offset));
  return out;
}

std::u32string codePoints(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t offset = 0; offset < text.size();) out.push_back(nextCodePoint(text, offset));
  return out;
}

std::string fromCodePoints(std::u32string_view codePoints) {
  std::string out;
  out.reserve(codePoints.size());
  for (char32_t c : codePoints) appendCodePoint(out, c);
  return out;
}

std::optional<std::int64_t> parseInteger(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::string_view digits = text;
  if (digits.front() == '+' || digits.front() == '-') digits.remove_prefix(1);
  if (digits.empty() ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  // from_chars takes "-" but not "+"; the digits were checked above.
  const std::string_view number = text.front() == '+' ? digits : text;
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (error != std::errc() || end != number.data() + number.size()) return std::nullopt;
  return value;
}

std::string formatDouble(double value) {
  char buffer[64];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (error != std::errc()) return {};
  return std::string(buffer, end);
}

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool endsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  for (std::size_t found = text.find(separator); found != std::string_view::npos;
       found = text.find(separator, start)) {
    pieces.push_back(text.substr(start, found - start));
    start = found + 1;
  }
  pieces.push_back(text.substr(start));
  return pieces;
}

std::string join(const std::vector<std::string>& parts, std::string_view separator) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += separator;
    out += parts[i];
  }
  return out;
}

std::string replacingAll(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string out;
  std::size_t start = 0;
  for (std::size_t found = text.find(from); found != std::string_view::npos;
       found = text.find(from, start)) {
    out.append(text.substr(start, found - start));
    out.append(to);
    start = found + from.size();
  }
  out.append(text.substr(start));
  return out;
}

std::string asciiLowercased(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace linkferry::Text
