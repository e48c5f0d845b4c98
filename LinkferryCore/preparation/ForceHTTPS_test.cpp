#include "preparation/ForceHTTPS.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace linkferry {
namespace {

std::optional<std::string> upgraded(const std::string& text,
                                    const std::vector<std::string>& exceptions = {}) {
  auto url = URL::parse(text);
  EXPECT_TRUE(url) << text;
  auto result = ForceHTTPS::upgrade(*url, exceptions);
  if (!result) return std::nullopt;
  return result->absoluteString();
}

TEST(ForceHTTPS, UpgradesPublicHttpLinks) {
  EXPECT_EQ(upgraded("http://example.org/a?b#c"), "https://example.org/a?b#c");
  EXPECT_EQ(upgraded("HTTP://Example.org:80/"), "https://Example.org/");
  EXPECT_EQ(upgraded("http://example.org:8080/"), "https://example.org:8080/");
  EXPECT_EQ(upgraded("http://8.8.8.8/"), "https://8.8.8.8/");
  EXPECT_EQ(upgraded("http://[2001:db8::1]/"), "https://[2001:db8::1]/");
}

TEST(ForceHTTPS, LeavesOtherSchemesLocalHostsAndExceptionsAlone) {
  for (const std::string text :
       {"https://example.org/", "ftp://example.org/", "mailto:a@example.org", "http:/path",
        "http://localhost:3000/", "http://nas/", "http://192.168.1.4/", "http://[::1]:8080/",
        "http://localhost./", "http://printer.local./", "http://127.1/", "http://0x7f.1/",
        "http://[0:0:0:0:0:0:0:1]/", "http://[::ffff:127.0.0.1]/", "http://[::ffff:10.0.0.2]/",
        "http://[fe80::1]/", "http://[febf::1]/", "http://[fd12::1]/",
        "http://172.20.0.1/", "http://169.254.1.1/", "http://router.lan/"}) {
    EXPECT_EQ(upgraded(text), std::nullopt) << text;
  }
  const std::vector<std::string> exceptions = {"", "  *.Example.org\t", "legacy-?.test"};
  EXPECT_EQ(upgraded("http://example.org/", exceptions), std::nullopt);
  EXPECT_EQ(upgraded("http://a.b.example.org/", exceptions), std::nullopt);
  EXPECT_EQ(upgraded("http://legacy-1.test/", exceptions), std::nullopt);
  EXPECT_EQ(upgraded("http://legacy-10.test/", exceptions), "https://legacy-10.test/");
  EXPECT_EQ(upgraded("http://notexample.org/", exceptions), "https://notexample.org/");
}

TEST(ForceHTTPS, TellsLocalFromPublicAddresses) {
  for (const char* host : {"172.15.0.1", "172.32.0.1", "11.0.0.1", "1.2.3.4", "[2001:db8::1]",
                           "[::ffff:8.8.8.8]", "[fec0::1]", "example.org", "256.1.1.1.1"})
    EXPECT_FALSE(ForceHTTPS::isLocal(host)) << host;
  for (const char* host : {"0.0.0.0", "[::]", "10.1.2.3", "127.0.0.1.", "a.localhost", "x.internal",
                           "h.home.arpa", "2130706433", "[fe80::1%en0]"})
    EXPECT_TRUE(ForceHTTPS::isLocal(host)) << host;
}

}  // namespace
}  // namespace linkferry
