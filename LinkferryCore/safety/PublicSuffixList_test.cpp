#include "safety/PublicSuffixList.h"

#include <libpsl.h>

#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "foundation/Resources.h"
#include "foundation/Text.h"
#include "safety/Punycode.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

using Answer = std::optional<std::string>;

const PublicSuffixList& smallList() {
  static const PublicSuffixList list(
      "// comment\n"
      "com\r\n"
      "  co.uk   trailing words are ignored\n"
      "\n"
      "*.ck\n"
      "!www.ck\n"
      "BÜCHER.example\n"
      "\xE5\x85\xAC\xE5\x8F\xB8.cn\n");
  return list;
}

TEST(PublicSuffixList, RegistrableDomainFollowsRulesWildcardsAndExceptions) {
  const std::vector<std::pair<std::string, Answer>> cases = {
      {"a.b.example.com", "example.com"},
      {"a.b.unlisted", "b.unlisted"},  // default rule: the last label is the suffix
      {"localhost", std::nullopt},
      {"com", std::nullopt},
      {"co.uk", std::nullopt},
      {"www.Example.CO.UK", "example.co.uk"},
      {"example.com.", "example.com"},
      {"example.com..", std::nullopt},
      {"a..example.com", std::nullopt},
      {".example.com", std::nullopt},
      {"", std::nullopt},
      {".", std::nullopt},
      {"192.168.0.1", "192.168.0.1"},
      {"::1", "::1"},
      {"[2001:db8::1]", "[2001:db8::1]"},
      {"b.ck", std::nullopt},  // every label under "ck" is a public suffix
      {"a.b.ck", "a.b.ck"},
      {"x.a.b.ck", "a.b.ck"},
      {"www.ck", "www.ck"},  // the exception is registrable itself
      {"z.www.ck", "www.ck"},
      {"shop.B\xC3\x9C"
       "cher.Example",
       "shop.b\xC3\xBC"
       "cher.example"},
      {"b\xC3\xBC"
       "cher.example",
       std::nullopt},
      {"a.b.\xE5\x85\xAC\xE5\x8F\xB8.cn", "b.\xE5\x85\xAC\xE5\x8F\xB8.cn"},
      // The ASCII form of a Unicode rule is a rule as well; the answer keeps the host's form.
      {"a.b.xn--55qx5d.cn", "b.xn--55qx5d.cn"},
      {"a.b.xn--bcher-kva.example", "b.xn--bcher-kva.example"},
  };
  for (const auto& [host, expected] : cases) {
    SCOPED_TRACE(host);
    EXPECT_EQ(smallList().registrableDomain(host), expected);
  }
  // Hosts longer than the lower-casing buffer on the stack.
  std::string deep;
  for (int i = 0; i < 100; ++i) deep += "LABEL.";
  EXPECT_EQ(smallList().registrableDomain(deep + "Example.com"), "example.com");
}

TEST(PublicSuffixList, ParsesTheListFormat) {
  const PublicSuffixList& list = smallList();
  EXPECT_EQ(list.rules(),
            (std::vector<std::string>{"b\xC3\xBC"
                                      "cher.example",
                                      "co.uk", "com", "\xE5\x85\xAC\xE5\x8F\xB8.cn"}));
  EXPECT_EQ(list.wildcards(), std::vector<std::string>{"ck"});
  EXPECT_EQ(list.exceptions(), std::vector<std::string>{"www.ck"});
  // Lines end at any newline character; order and duplicates do not matter.
  EXPECT_EQ(PublicSuffixList("!www.ck\r*.ck\x0B"
                             "com\xE2\x80\xA8"
                             "co.uk\xC2\x85"
                             "com\n"
                             "b\xC3\xBC"
                             "cher.example\f\xE5\x85\xAC\xE5\x8F\xB8.cn"),
            list);
  EXPECT_EQ(PublicSuffixList(""), PublicSuffixList());
  EXPECT_EQ(PublicSuffixList().registrableDomain("a.b.co.uk"), "co.uk");
}

TEST(PublicSuffixList, RecognisesIPAddresses) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"1.2.3.4", true},      {"255.255.255.255", true}, {"001.2.3.4", true}, {"::", true},
      {"fe80::1%eth0", true}, {"256.1.1.1", false},      {"1.2.3", false},    {"1.2.3.4.5", false},
      {"1.2.3.", false},      {"1.2.3.-4", false},       {"a.b.c.d", false},  {"", false},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(PublicSuffixList::isIPAddress(text), expected);
  }
}

bool isASCII(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
}

TEST(PublicSuffixList, SharedListIsTheCompiledInResource) {
  std::optional<std::string_view> contents = Resources::find("public_suffix_list.dat");
  ASSERT_TRUE(contents);
  const PublicSuffixList& shared = PublicSuffixList::shared();
  EXPECT_EQ(shared, PublicSuffixList(*contents));
  EXPECT_GT(shared.rules().size(), 5000u);
  EXPECT_EQ(shared.registrableDomain("news.bbc.co.uk"), "bbc.co.uk");
  EXPECT_EQ(shared.registrableDomain("city.kawasaki.jp"), "city.kawasaki.jp");
  EXPECT_EQ(shared.registrableDomain("a.b.kawasaki.jp"), "a.b.kawasaki.jp");
  // International rules, in their Unicode and their ASCII forms.
  const PublicSuffixList parsed(*contents);
  int international = 0;
  for (const std::string& rule : parsed.rules()) {
    if (isASCII(rule)) continue;
    ++international;
    const std::string host = "a.b." + rule;
    EXPECT_EQ(shared.registrableDomain(host), parsed.registrableDomain(host)) << host;
    EXPECT_EQ(shared.siteKey(host), parsed.siteKey(host)) << host;
  }
  EXPECT_GT(international, 100);
}

// libpsl loaded from the same file, as the reference for the registrable domain.
class Libpsl {
 public:
  explicit Libpsl(const std::string& path) : m_context(psl_load_file(path.c_str())) {}
  ~Libpsl() { psl_free(m_context); }
  bool loaded() const { return m_context != nullptr; }
  Answer registrableDomain(const std::string& host) const {
    const char* result = psl_registrable_domain(m_context, host.c_str());
    return result ? Answer(result) : std::nullopt;
  }

 private:
  psl_ctx_t* m_context;
};

// Hosts around every ASCII rule of the list: the suffix itself, with one to three labels in
// front, with "www.", and deep below it; the same around wildcard and exception rules; hosts under
// unlisted top-level names; single labels.
std::vector<std::string> generatedHosts(const PublicSuffixList& list) {
  std::mt19937 random(5);
  auto label = [&random] {
    static const std::string letters = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string text;
    std::size_t length = 1 + random() % 12;
    for (std::size_t i = 0; i < length; ++i) {
      bool inside = i > 0 && i + 1 < length;
      text += inside && random() % 9 == 0 ? '-' : letters[random() % letters.size()];
    }
    return text;
  };
  std::vector<std::string> hosts;
  auto around = [&](const std::string& suffix) {
    std::string host = suffix;
    hosts.push_back(host);
    for (int depth = 0; depth < 3; ++depth) hosts.push_back(host = label() + "." + host);
    hosts.push_back("www." + label() + "." + suffix);
    std::string deep = suffix;
    for (int depth = 0; depth < 8; ++depth) deep = label() + "." + deep;
    hosts.push_back(deep);
  };
  for (const std::string& rule : list.rules()) {
    if (isASCII(rule)) around(rule);
  }
  for (const std::string& base : list.wildcards()) around(base);
  for (const std::string& exception : list.exceptions()) around(exception);
  for (int i = 0; i < 2000; ++i) {
    hosts.push_back(label());
    around(label() + "zz");
  }
  return hosts;
}

TEST(PublicSuffixList, AgreesWithLibpslOnGeneratedHosts) {
  std::string path = (testing::sourceDirectory() / "resources" / "public_suffix_list.dat").string();
  std::ifstream file(path, std::ios::binary);
  std::string contents((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const PublicSuffixList list(contents);
  Libpsl reference(path);
  ASSERT_TRUE(reference.loaded());

  std::vector<std::string> hosts = generatedHosts(list);
  ASSERT_GT(hosts.size(), 50000u);
  // libpsl also calls the base of a wildcard rule a public suffix ("0emm.com" for "*.0emm.com");
  // the list's own algorithm, and ours, apply such a rule only to names below the base.
  std::set<std::string> wildcardBases(list.wildcards().begin(), list.wildcards().end());
  for (const std::string& rule : list.rules()) wildcardBases.erase(rule);
  std::vector<std::string> mismatches;
  for (const std::string& host : hosts) {
    if (wildcardBases.count(host)) {
      EXPECT_EQ(reference.registrableDomain(host), std::nullopt);
      continue;
    }
    Answer ours = list.registrableDomain(host);
    Answer theirs = reference.registrableDomain(host);
    if (ours != theirs && mismatches.size() < 20) {
      mismatches.push_back(host + ": ours " + ours.value_or("(none)") + ", libpsl " +
                           theirs.value_or("(none)"));
    }
    // The table the build compiled in answers as the one parsed here.
    Answer compiled = PublicSuffixList::shared().registrableDomain(host);
    if (compiled != ours && mismatches.size() < 20) {
      mismatches.push_back(host + ": parsed " + ours.value_or("(none)") + ", compiled " +
                           compiled.value_or("(none)"));
    }
  }
  EXPECT_TRUE(mismatches.empty()) << Text::join(mismatches, "\n");

  // Where we differ from libpsl on purpose.
  std::mt19937 random(7);
  for (int i = 0; i < 200; ++i) {
    // IP addresses are their own site; libpsl treats them as names ("0.1" for 192.168.0.1).
    std::string address = std::to_string(random() % 256) + "." + std::to_string(random() % 256) +
                          "." + std::to_string(random() % 256) + "." +
                          std::to_string(random() % 256);
    EXPECT_EQ(list.registrableDomain(address), address);
    EXPECT_NE(reference.registrableDomain(address), address);
  }
  EXPECT_EQ(reference.registrableDomain("192.168.0.1"), "0.1");
  EXPECT_EQ(list.registrableDomain("2001:db8::1"), "2001:db8::1");
  for (std::size_t i = 0; i < hosts.size(); i += 97) {
    const std::string& host = hosts[i];
    SCOPED_TRACE(host);
    // A trailing dot names the same host; libpsl reads it as an empty last label.
    EXPECT_EQ(list.registrableDomain(host + "."), list.registrableDomain(host));
    Answer theirs = reference.registrableDomain(host + ".");
    if (theirs) {
      EXPECT_TRUE(Text::endsWith(*theirs, "."));
    }
    // Letter case never matters to us; libpsl keeps it (and misses upper-case rules).
    std::string upper = Text::uppercased(host);
    EXPECT_EQ(list.registrableDomain(upper), list.registrableDomain(host));
  }
  EXPECT_EQ(reference.registrableDomain("WWW.Example.COM"), "Example.COM");
  // A host with an empty label has no registrable domain; libpsl answers for what follows it.
  EXPECT_EQ(list.registrableDomain("a..b.com"), std::nullopt);
  EXPECT_EQ(reference.registrableDomain("a..b.com"), "b.com");

  // Rules written in Unicode match hosts in Unicode and in their "xn--" form, as libpsl does.
  std::size_t unicodeRules = 0;
  for (const std::string& rule : list.rules()) {
    if (isASCII(rule)) continue;
    ++unicodeRules;
    SCOPED_TRACE(rule);
    EXPECT_EQ(list.registrableDomain("www.shop." + rule), "shop." + rule);
    EXPECT_EQ(reference.registrableDomain("www.shop." + rule), "shop." + rule);
    std::optional<std::string> ascii = Punycode::toASCIIHost(rule);
    ASSERT_TRUE(ascii);
    EXPECT_EQ(list.registrableDomain("www.shop." + *ascii), "shop." + *ascii);
    EXPECT_EQ(reference.registrableDomain("www.shop." + *ascii), "shop." + *ascii);
    // The site key is the same whichever form the host arrived in.
    EXPECT_EQ(list.siteKey("WWW.Shop." + rule), "shop." + *ascii);
    EXPECT_EQ(list.siteKey("www.shop." + *ascii), "shop." + *ascii);
  }
  EXPECT_GT(unicodeRules, 100u);
  EXPECT_EQ(list.registrableDomain("www.shop.xn--55qx5d.cn"), "shop.xn--55qx5d.cn");
}

TEST(PublicSuffixList, SiteKeyIsTheASCIIRegistrableDomain) {
  const PublicSuffixList& shared = PublicSuffixList::shared();
  const std::vector<std::pair<std::string, Answer>> cases = {
      {"a.xn--trna-woa.no", "a.xn--trna-woa.no"},  // under the rule "træna.no"
      {"a.tr\xC3\xA6na.no", "a.xn--trna-woa.no"},
      {"xn--trna-woa.no", std::nullopt},  // a public suffix itself
      {"www.B\xC3\x9C"
       "cher.de",
       "xn--bcher-kva.de"},
      {"shop.xn--bcher-kva.de.", "xn--bcher-kva.de"},
      {"WWW.Example.COM", "example.com"},
      {"192.168.0.1", "192.168.0.1"},
      {"localhost", std::nullopt},
      {"a..b.com", std::nullopt},
      {"", std::nullopt},
      {std::string(2000, 'a') + "\xC3\xA9.com", std::nullopt},
  };
  for (const auto& [host, expected] : cases) {
    SCOPED_TRACE(host);
    EXPECT_EQ(shared.siteKey(host), expected);
  }
  // The safety report keeps showing the form the host arrived in.
  EXPECT_EQ(shared.registrableDomain("a.tr\xC3\xA6na.no"), "a.tr\xC3\xA6na.no");
}

}  // namespace
}  // namespace linkferry
