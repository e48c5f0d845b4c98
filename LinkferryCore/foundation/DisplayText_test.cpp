#include "foundation/DisplayText.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace linkferry {
namespace {

using DisplayText::escaped;

TEST(DisplayText, TerminalCommandsAndLineBreaksBecomeVisible) {
  // An OSC title change, a cursor move and a forged second line.
  EXPECT_EQ(escaped("Inbox\x1b]0;pwned\x07 - Mail"), "Inbox\\x1b]0;pwned\\x07 - Mail");
  EXPECT_EQ(escaped("a\x1b[2Ab"), "a\\x1b[2Ab");
  EXPECT_EQ(escaped("x\nOpened in Firefox\r\t"), "x\\x0aOpened in Firefox\\x0d\\x09");
  EXPECT_EQ(escaped(std::string("nul\0byte", 8)), "nul\\x00byte");
  EXPECT_EQ(escaped("del\x7f"), "del\\x7f");
  // C1 controls, the 8-bit CSI among them, and the Unicode line breaks.
  EXPECT_EQ(escaped("\xc2\x9b" "2J\xc2\x85" "x"), "\\u{009B}2J\\u{0085}x");
  EXPECT_EQ(escaped("a\u2028b\u2029c"), "a\\u{2028}b\\u{2029}c");
}

TEST(DisplayText, BidiControlsBecomeVisible) {
  EXPECT_EQ(escaped("bank.com \u202Egnp.exe"), "bank.com \\u{202E}gnp.exe");
  EXPECT_EQ(escaped("\u202A\u202B\u202C\u202D"), "\\u{202A}\\u{202B}\\u{202C}\\u{202D}");
  EXPECT_EQ(escaped("\u2066\u2067\u2068\u2069"), "\\u{2066}\\u{2067}\\u{2068}\\u{2069}");
  EXPECT_EQ(escaped("\u200E\u200F\u061C"), "\\u{200E}\\u{200F}\\u{061C}");
}

TEST(DisplayText, InvalidUTF8BytesBecomeVisible) {
  EXPECT_EQ(escaped("a\xff" "b"), "a\\xffb");
  EXPECT_EQ(escaped("\xc0\xaf"), "\\xc0\\xaf");              // overlong "/"
  EXPECT_EQ(escaped("\xe0\x80\xaf"), "\\xe0\\x80\\xaf");     // overlong "/"
  EXPECT_EQ(escaped("\xed\xa0\x80"), "\\xed\\xa0\\x80");     // a surrogate
  EXPECT_EQ(escaped("\xf4\x90\x80\x80"), "\\xf4\\x90\\x80\\x80");  // above U+10FFFF
  EXPECT_EQ(escaped("cut \xe2\x80"), "cut \\xe2\\x80");       // truncated at the end
  EXPECT_EQ(escaped("\xe2\x80" "a"), "\\xe2\\x80a");          // truncated before ASCII
}

TEST(DisplayText, OrdinaryTextIsUnchanged) {
  for (const std::string text :
       {"https://example.com/a?b=c#d", "Grüße aus Köln", "Привет — мир", "שלום عربي",
        "日本語のメール", "👩‍👩‍👧 family", "\u00A0\u00A9\u00FF", "\xf4\x8f\xbf\xbf", ""}) {
    EXPECT_EQ(escaped(text), text) << text;
  }
}

TEST(DisplayText, BackslashesAreEscapedSoTheResultIsUnambiguous) {
  // A literal "\x1b" in the text must not read like an escaped ESC.
  EXPECT_EQ(escaped("C:\\x1b"), "C:\\\\x1b");
  EXPECT_NE(escaped("\\x1b"), escaped("\x1b"));
  EXPECT_NE(escaped("\\u{202E}"), escaped("\u202E"));
}

// A command line keeps its shell quoting's backslashes, unless it holds a control: then it is
// escaped whole, as any outside text is.
TEST(DisplayText, PasteableKeepsBackslashesOfTextWithoutControls) {
  EXPECT_EQ(DisplayText::pasteable(R"(firefox 'a='\''b')"), R"(firefox 'a='\''b')");
  EXPECT_EQ(DisplayText::pasteable("firefox 'b\u00fccher'"), "firefox 'b\u00fccher'");
  EXPECT_EQ(DisplayText::pasteable("firefox '\\x\x1b]0;'"), "firefox '\\\\x\\x1b]0;'");
}

TEST(DisplayText, ControlsAreExactlyTheEscapedSet) {
  EXPECT_TRUE(DisplayText::isControl(U'\t'));
  EXPECT_TRUE(DisplayText::isControl(0x9f));
  EXPECT_TRUE(DisplayText::isControl(0x202e));
  EXPECT_FALSE(DisplayText::isControl(0xa0));
  EXPECT_FALSE(DisplayText::isControl(0x200d));  // the joiner that emoji sequences need
  EXPECT_FALSE(DisplayText::isControl(0x202f));
  EXPECT_FALSE(DisplayText::isControl(0x2065));
  EXPECT_FALSE(DisplayText::isControl(0x206a));
}

TEST(DisplayText, EscapesOfCharactersBeyondASCIIAreReadAsThoseCharacters) {
  using DisplayText::readablePercentEncoding;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/stra%C3%9Fe/%E6%97%A5%E6%9C%AC?q=%c3%bc#%F0%9F%98%80", "/straße/日本?q=ü#😀"},
      // ASCII escapes keep the link's structure as written: "%2F" is no "/".
      {"/a%2Fb%20c%3Fd%25e", "/a%2Fb%20c%3Fd%25e"},
      // No UTF-8, malformed or cut short: as written, and the text after them still decodes.
      {"/%FF%C3%BC", "/%FFü"},
      {"/%C3%28", "/%C3%28"},
      {"/%C3", "/%C3"},
      {"/%E2%82%", "/%E2%82%"},
      {"/%zz%C3%BC%", "/%zzü%"},
      {"/%C0%AF", "/%C0%AF"},  // an overlong "/"
      // What could be taken for something else stays escaped, its neighbours do not.
      {"/bank%E2%80%AEgnp.exe", "/bank%E2%80%AEgnp.exe"},         // U+202E
      {"/a%E2%81%84b%C3%BC", "/a%E2%81%84bü"},                     // U+2044 FRACTION SLASH
      {"/%C2%A0x%E2%80%8By%EF%BB%BF", "/%C2%A0x%E2%80%8By%EF%BB%BF"},  // blank, invisible
      {"/%EF%BC%9Fq%EF%BC%83f", "/%EF%BC%9Fq%EF%BC%83f"},           // fullwidth "?" and "#"
      {"/%C2%85%EF%BF%BD%EE%80%80", "/%C2%85%EF%BF%BD%EE%80%80"},   // C1, U+FFFD, private use
      // Characters written as they are stay as they are.
      {"/straße", "/straße"},
      {"", ""},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(readablePercentEncoding(text), expected);
  }
}

}  // namespace
}  // namespace linkferry
