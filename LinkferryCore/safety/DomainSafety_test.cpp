#include "safety/DomainSafety.h"

#include <gtest/gtest.h>

#include "foundation/Text.h"

namespace linkferry {
namespace {

using Codes = std::vector<std::string>;

Codes codes(const std::vector<LinkSafety::Finding>& findings) {
  Codes result;
  for (const auto& finding : findings) {
    EXPECT_EQ(finding.kind, LinkSafety::Finding::Kind::domain);
    result.push_back(finding.code);
  }
  return result;
}

// "аррӏе" and "раура" are written wholly in Cyrillic look-alikes of Latin letters.
const std::string kCyrillicApple = "\xD0\xB0\xD1\x80\xD1\x80\xD3\x8F\xD0\xB5";
const std::string kLatinWithCyrillicA = "p\xD0\xB0ypal";

TEST(DomainSafety, FormsConvertBothWaysAfterCleaning) {
  const DomainSafety::HostForms bucher{
      "b\xC3\xBC"
      "cher.de",
      "xn--bcher-kva.de"};
  EXPECT_EQ(DomainSafety::forms("B\xC3\x9C"
                                "CHER.de."),
            bucher);
  EXPECT_EQ(DomainSafety::forms("XN--BCHER-KVA.DE"), bucher);
  EXPECT_EQ(DomainSafety::forms("b%C3%BCcher.de"), bucher);
  EXPECT_TRUE(bucher.isInternational());
  EXPECT_FALSE(DomainSafety::forms("example.com")->isInternational());
  EXPECT_EQ(DomainSafety::forms("100%.com")->ascii, "100%.com");  // invalid escape kept
  EXPECT_EQ(DomainSafety::forms(""), std::nullopt);
  EXPECT_EQ(DomainSafety::forms("xn--ab_c.com"), std::nullopt);
}

TEST(DomainSafety, ScriptsIgnoreDigitsHyphensAndSymbols) {
  using enum DomainSafety::Script;
  const std::vector<std::pair<char32_t, std::optional<DomainSafety::Script>>> cases = {
      {U'a', latin},         {U'\u00E9', latin},    {U'\u1D0F', latin},   {U'\u0436', cyrillic},
      {U'\uA640', cyrillic}, {U'\u03B1', greek},    {U'\u1F00', greek},   {U'\u0561', armenian},
      {U'\u13A0', cherokee}, {U'\u10D0', georgian}, {U'\u4E2D', other},   {U'\u00D7', std::nullopt},
      {U'5', std::nullopt},  {U'-', std::nullopt},  {U'_', std::nullopt}, {U'!', std::nullopt},
  };
  for (const auto& [scalar, expected] : cases) {
    SCOPED_TRACE(static_cast<std::uint32_t>(scalar));
    EXPECT_EQ(DomainSafety::script(scalar), expected);
  }
  EXPECT_EQ(DomainSafety::scripts(kLatinWithCyrillicA + "-24_7"),
            (std::set<DomainSafety::Script>{latin, cyrillic}));
  EXPECT_EQ(DomainSafety::scripts("12-3"), std::set<DomainSafety::Script>{});
}

TEST(DomainSafety, SkeletonsMapLookAlikesOnly) {
  EXPECT_EQ(DomainSafety::confusables().size(), 69u);
  EXPECT_EQ(DomainSafety::skeletonOfLabel(kCyrillicApple), "apple");
  EXPECT_EQ(DomainSafety::skeletonOfLabel("\xD0\x90\xD0\xA0\xD0\xA0\xD3\x80\xD0\x95"), "apple");
  EXPECT_EQ(DomainSafety::skeletonOfLabel("apple"), std::nullopt);
  EXPECT_EQ(DomainSafety::skeletonOfLabel("\xD0\xB6pple"), std::nullopt);  // "ж" imitates nothing
  EXPECT_EQ(DomainSafety::skeletonOfHost("www." + kCyrillicApple + ".com"), "www.apple.com");
  EXPECT_EQ(DomainSafety::skeletonOfHost("www.apple.com"), std::nullopt);
}

TEST(DomainSafety, InspectionReportsInternationalMixedAndLookAlikeHosts) {
  auto apple = DomainSafety::inspectHost(kCyrillicApple + ".com");
  EXPECT_EQ(codes(apple), (Codes{"idn", "lookalike"}));  // one look-alike alphabet: not mixed
  ASSERT_EQ(apple.size(), 2u);
  EXPECT_EQ(apple[0].excerpt, kCyrillicApple + ".com = xn--80ak6aa92e.com");
  EXPECT_EQ(apple[1].excerpt, "apple.com");

  auto paypal = DomainSafety::inspectHost("www." + kLatinWithCyrillicA + ".com.");
  EXPECT_EQ(codes(paypal), (Codes{"idn", "mixed-script", "lookalike"}));
  ASSERT_EQ(paypal.size(), 3u);
  EXPECT_EQ(paypal[1].excerpt, kLatinWithCyrillicA + " (Latin + Cyrillic)");
  EXPECT_EQ(paypal[2].excerpt, "www.paypal.com");

  const std::vector<std::pair<std::string, Codes>> cases = {
      {"\xCE\xB1\xD0\xB6.com", {"idn", "mixed-script"}},  // Greek and Cyrillic, no Latin
      {"\xD0\xB6pple.com", {"idn", "mixed-script"}},      // "ж" has no look-alike
      {"b\xC3\xBC"
       "cher.de",
       {"idn"}},
      {"%D0%B0pple.com", {"idn", "mixed-script", "lookalike"}},
      {"xn--ab_c.com", {"bad-punycode"}},
      {"Example.COM", {}},
      {"192.168.0.1", {}},
      {"[::1]", {}},
      {"", {}},
  };
  for (const auto& [host, expected] : cases) {
    SCOPED_TRACE(host);
    EXPECT_EQ(codes(DomainSafety::inspectHost(host)), expected);
  }
  EXPECT_EQ(DomainSafety::inspectHost("XN--AB_C.com.")[0].excerpt, "xn--ab_c.com");
}

TEST(DomainSafety, AHostBeyondTheDNSLimitsIsOneFindingWithoutConversion) {
  auto repeated = [](std::string_view piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += piece;
    return text;
  };
  const std::string u = "\xC3\xBC";  // "ü": two bytes, nine in ASCII form
  const std::vector<std::pair<std::string, Codes>> cases = {
      {repeated("a", 63) + ".com", {}},
      {repeated("a", 64) + ".com", {"too-long"}},
      {repeated(repeated("a", 49) + ".", 5) + "com", {}},  // 253 bytes
      {repeated(repeated("a", 49) + ".", 5) + "com1", {"too-long"}},
      {repeated("a", 50) + u + ".de", {"idn"}},       // "xn--" and 54 more
      {repeated("a", 58) + u + ".de", {"too-long"}},  // 60 bytes, 66 in ASCII form
      {"xn--" + repeated("a", 60) + ".de", {"too-long"}},
  };
  for (const auto& [host, expected] : cases) {
    SCOPED_TRACE(host);
    EXPECT_EQ(codes(DomainSafety::inspectHost(host)), expected);
  }

  // 100 KB in one label, once ASCII and once in Unicode (where conversion takes quadratic time):
  // inspected at once, the excerpt kept short.
  for (const std::string& label : {repeated("a", 100000), repeated(u, 50000)}) {
    auto findings = DomainSafety::inspect(*URL::parse("https://" + label + ".com/x"));
    ASSERT_EQ(codes(findings), Codes{"too-long"});
    EXPECT_EQ(findings[0].label, "host name longer than DNS allows");
    EXPECT_LT(findings[0].excerpt.size(), 120u);
    EXPECT_TRUE(Text::endsWith(findings[0].excerpt, "\xE2\x80\xA6 (100004 bytes)"))
        << findings[0].excerpt;
  }
}

TEST(DomainSafety, InspectsTheHostOfALinkDecodingItOnce) {
  EXPECT_EQ(codes(DomainSafety::inspect(*URL::parse("https://" + kCyrillicApple + ".com/x"))),
            (Codes{"idn", "lookalike"}));
  EXPECT_EQ(codes(DomainSafety::inspect(*URL::parse("mailto:someone@example.com"))), Codes{});
  // "%25D0%25B0" is the text "%D0%B0", not a Cyrillic letter.
  EXPECT_EQ(codes(DomainSafety::inspect(*URL::parse("https://%25D0%25B0pple.com/"))), Codes{});
}

// An international name alone is a notice: a German shop's "bücher.de" is not dangerous. What
// imitates or hides is danger, and so is a name beyond ASCII that holds what is no letter: a
// fraction slash that fakes a path, an invisible joiner, a symbol.
TEST(DomainSafety, AnInternationalNameAloneIsANoticeAndDeceptionIsDanger) {
  using Severity = LinkSafety::Finding::Severity;
  const auto severities = [](const std::string& host) {
    std::vector<std::pair<std::string, Severity>> result;
    for (const auto& finding : DomainSafety::inspectHost(host)) {
      result.emplace_back(finding.code, finding.severity);
    }
    return result;
  };
  using Expected = std::vector<std::pair<std::string, Severity>>;
  EXPECT_EQ(severities("b\u00FCcher.de"), (Expected{{"idn", Severity::notice}}));
  EXPECT_EQ(severities("\u043F\u0440\u0438\u043C\u0435\u0440.\u0440\u0444"),  // пример.рф
            (Expected{{"idn", Severity::notice}}));
  EXPECT_EQ(severities("\u4F8B\u3048.jp"), (Expected{{"idn", Severity::notice}}));
  EXPECT_EQ(severities(kCyrillicApple + ".com"),
            (Expected{{"idn", Severity::notice}, {"lookalike", Severity::danger}}));
  EXPECT_EQ(severities("\xD0\xB6pple.com"),
            (Expected{{"idn", Severity::notice}, {"mixed-script", Severity::danger}}));
  EXPECT_EQ(severities("xn--ab_c.com"), (Expected{{"bad-punycode", Severity::danger}}));

  const auto unusual = DomainSafety::inspectHost("bank.example\u2044login.evil.example");
  ASSERT_EQ(codes(unusual), (Codes{"idn", "unusual-character"}));
  EXPECT_EQ(unusual[1].severity, Severity::danger);
  EXPECT_EQ(unusual[1].excerpt,
            DomainSafety::forms("bank.example\u2044login.evil.example")->ascii + " (U+2044)");
  for (const std::string host : {"a\u200Db.example", "\u2764.example", "a\u00A0b.example",
                                 "xn--bank-yd7a.example" /* "bank" + U+202E */}) {
    SCOPED_TRACE(host);
    const auto findings = DomainSafety::inspectHost(host);
    EXPECT_EQ(LinkSafety::worst(findings), Severity::danger) << testing::PrintToString(codes(findings));
  }
}

// A decoded host with a control (terminal commands, a forged line, a bidi override that turns
// "bank.example" + U+202E + "gnp.exe" into what reads "bank.exampleexe.png") is a finding of its
// own, first, with the host as excerpt; the other checks still run.
TEST(DomainSafety, AHostWithControlsIsAFinding) {
  struct Case {
    std::string link;
    std::string excerpt;
  };
  const Case cases[] = {
      {"https://bank.example%1b%5d0;x%07/", "bank.example\x1b]0;x\x07"},
      {"https://bank.example%0aopened.example/", "bank.example\nopened.example"},
      {"https://bank.example%E2%80%AEgnp.exe/", "bank.example\u202Egnp.exe"},
      {"https://a%C2%9B2j.example/", "a\u009B2j.example"},
      {"https://a%E2%81%A6b.example/", "a\u2066b.example"},
      {"https://a%7f.example/", "a\x7f.example"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link);
    const auto findings = DomainSafety::inspect(*URL::parse(c.link));
    ASSERT_FALSE(findings.empty());
    EXPECT_EQ(findings[0].code, "control-character");
    EXPECT_EQ(findings[0].label, "host name with control characters");
    EXPECT_EQ(findings[0].excerpt, c.excerpt);
  }
  // The joiners that emoji and some scripts need are no controls; nor is a plain host.
  EXPECT_EQ(codes(DomainSafety::inspectHost("bank.example")), Codes{});
  for (const auto& finding : DomainSafety::inspectHost("a\u200Db.example")) {
    EXPECT_NE(finding.code, "control-character");
  }
  // A long host keeps a short excerpt, and its other finding.
  const auto long_ = DomainSafety::inspectHost("a\u202E" + std::string(300, 'b') + ".example");
  EXPECT_EQ(codes(long_), (Codes{"control-character", "too-long"}));
  EXPECT_LT(long_[0].excerpt.size(), 100u);
}

}  // namespace
}  // namespace linkferry
