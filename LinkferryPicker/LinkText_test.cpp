// How the window writes a link: the host set apart exactly as a reader must judge it, long rests
// shortened in the middle without breaking a character.
#include "LinkText.h"

#include <gtest/gtest.h>
#include <unicode/ubidi.h>
#include <unicode/unistr.h>

#include <string>

namespace linkferry::picker {
namespace {

LinkText of(const std::string& link, std::size_t maxRest = 56) {
  return LinkText::of(*URL::parse(link), maxRest);
}

TEST(LinkText, TheHostStandsApartFromUserInfoPortAndPath) {
  EXPECT_EQ(of("https://news.example/a?b=1#c"), (LinkText{"https://", "news.example", "/a?b=1#c"}));
  // A deceptive link: what stands before "@" is not the host.
  EXPECT_EQ(of("https://bank.example@evil.example:8443/login"),
            (LinkText{"https://bank.example@", "evil.example", ":8443/login"}));
  EXPECT_EQ(of("http://[2001:db8::1]:80/x"), (LinkText{"http://", "[2001:db8::1]", ":80/x"}));
  EXPECT_EQ(of("mailto:someone@example.com"), (LinkText{"", "", "mailto:someone@example.com"}));
  // An international name reads in its own letters; a look-alike only in its ASCII form.
  EXPECT_EQ(of("https://xn--bcher-kva.de/stra%C3%9Fe"), (LinkText{"https://", "bücher.de", "/straße"}));
  EXPECT_EQ(of("https://\xD0\xB0pple.com/"), (LinkText{"https://", "xn--pple-43d.com", "/"}));
}

TEST(LinkText, ALongRestKeepsItsStartAndEndAroundAnEllipsis) {
  const LinkText link = of("https://example.com/" + std::string(40, 'a') + "/éü" + "zzzzzzz", 21);
  EXPECT_EQ(link.rest, "/aaaaaaaaa…/éüzzzzzzz");
  // An escape that stays (no UTF-8 here) is still never cut.
  EXPECT_EQ(of("https://example.com/" + std::string(40, 'a') + "%FF%FEzzzzzzzz", 21).rest,
            "/aaaaaaaaa…%FF%FEzzzzzzzz");
  EXPECT_EQ(shortenedInMiddle("äöüäöüäöüäöü", 8), "äöüä…äöü");
  EXPECT_EQ(shortenedInMiddle("short", 8), "short");
}

// A host as long as a label may make it (300 characters) keeps its start and its end, and so
// does a long user name before "@": neither makes the window wider than the screen.
TEST(LinkText, ALongHostOrUserNameIsShortenedInItsMiddle) {
  const std::string host = std::string(150, 'a') + "." + std::string(145, 'b') + ".bank.example";
  const LinkText link = of("https://" + host + "/login");
  EXPECT_EQ(link.host, std::string(32, 'a') + "…" + std::string(18, 'b') + ".bank.example");
  EXPECT_EQ(link.rest, "/login");
  const LinkText user = of("https://" + std::string(100, 'u') + "@evil.example/");
  EXPECT_EQ(user.lead, "https://" + std::string(24, 'u') + "…" + std::string(30, 'u') + "@");
  EXPECT_EQ(user.host, "evil.example");
}

// The line as a reader sees it: ICU's bidirectional algorithm in a left-to-right paragraph.
std::string visualOrder(const std::string& text) {
  const icu::UnicodeString logical = icu::UnicodeString::fromUTF8(text);
  UErrorCode status = U_ZERO_ERROR;
  UBiDi* bidi = ubidi_open();
  ubidi_setPara(bidi, logical.getBuffer(), logical.length(), UBIDI_LTR, nullptr, &status);
  std::u16string visual(static_cast<std::size_t>(logical.length()), u'\0');
  const int32_t length = ubidi_writeReordered(bidi, visual.data(), static_cast<int32_t>(visual.size()),
                                              UBIDI_REMOVE_BIDI_CONTROLS, &status);
  ubidi_close(bidi);
  EXPECT_TRUE(U_SUCCESS(status)) << u_errorName(status);
  std::string result;
  icu::UnicodeString(visual.data(), length).toUTF8String(result);
  return result;
}

// A window title with U+202E RIGHT-TO-LEFT OVERRIDE ("bank.example" + U+202E + "gnp.exe") must
// not read "bank.example exe.png", and a right-to-left app name or title must not pull the
// pieces after it into its own direction.
TEST(LinkText, TheSourceLineIsolatesEachPieceAndShowsItsControls) {
  const std::string forged = sourceLine("Mail", std::string("bank.example \u202Egnp.exe"));
  EXPECT_EQ(forged, "from \u2068Mail\u2069 — \u2068bank.example \\u{202E}gnp.exe\u2069");
  EXPECT_EQ(visualOrder(forged), "from Mail — bank.example \\u{202E}gnp.exe");
  // Unisolated, the Hebrew name and the digits after it would be laid out as one right-to-left
  // run: "from 2024 — שלום" would show the title before the app name.
  const std::string hebrew = sourceLine("שלום", std::string("2024 report"));
  EXPECT_EQ(visualOrder(hebrew), "from םולש — 2024 report");
  EXPECT_EQ(sourceLine("Mail", std::string()), "from \u2068Mail\u2069");
  EXPECT_EQ(sourceLine("Mail", std::nullopt), "from \u2068Mail\u2069");
  // A forged second line and a terminal command stay on the line, visible.
  EXPECT_EQ(sourceLine("a\nb", std::string("\x1b]0;t\x07")),
            "from \u2068a\\x0ab\u2069 — \u2068\\x1b]0;t\\x07\u2069");
  // Long pieces are shortened before they are escaped, so an escape is never cut.
  EXPECT_EQ(isolated("\u202E" + std::string(20, 'y'), 9), "\u2068\\u{202E}yyy…yyyy\u2069");
}

}  // namespace
}  // namespace linkferry::picker
