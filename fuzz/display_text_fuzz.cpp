// Arbitrary bytes shown as display text. The result must hold no control and no invalid UTF-8,
// and must read back to exactly the bytes given: every escape stands for one thing only.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "foundation/DisplayText.h"
#include "foundation/Text.h"

namespace {

// The reverse of DisplayText::escaped; anything it cannot read makes the check fail.
std::string unescaped(std::string_view text) {
  std::string result;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      result.push_back(text[i]);
      continue;
    }
    FUZZ_CHECK(i + 1 < text.size());
    const char kind = text[++i];
    if (kind == '\\') {
      result.push_back('\\');
    } else if (kind == 'x') {
      FUZZ_CHECK(i + 2 < text.size() && linkferry::Text::hexDigitValue(text[i + 1]) >= 0 && linkferry::Text::hexDigitValue(text[i + 2]) >= 0);
      result.push_back(static_cast<char>(linkferry::Text::hexDigitValue(text[i + 1]) * 16 + linkferry::Text::hexDigitValue(text[i + 2])));
      i += 2;
    } else {
      FUZZ_CHECK(kind == 'u' && i + 1 < text.size() && text[i + 1] == '{');
      const std::size_t close = text.find('}', i);
      FUZZ_CHECK(close != std::string_view::npos);
      char32_t codePoint = 0;
      for (std::size_t j = i + 2; j < close; ++j) {
        FUZZ_CHECK(linkferry::Text::hexDigitValue(text[j]) >= 0);
        codePoint = codePoint * 16 + static_cast<char32_t>(linkferry::Text::hexDigitValue(text[j]));
      }
      FUZZ_CHECK(linkferry::DisplayText::isControl(codePoint));
      result += linkferry::Text::fromCodePoints(std::u32string(1, codePoint));
      i = close;
    }
  }
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string shown = linkferry::DisplayText::escaped(text);
  FUZZ_CHECK(linkferry::Text::isValidUTF8(shown));
  for (char32_t c : linkferry::Text::codePoints(shown)) {
    FUZZ_CHECK(!linkferry::DisplayText::isControl(c));
  }
  FUZZ_CHECK(unescaped(shown) == text);
  return 0;
}
