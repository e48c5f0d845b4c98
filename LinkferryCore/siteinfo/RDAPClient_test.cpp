#include "siteinfo/RDAPClient.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#include "fixtures/TestAuthority.h"
#include "foundation/SigpipeGuard.h"
#include "safety/PublicSuffixList.h"
#include "siteinfo/SiteInfoError.h"
#include "siteinfo/SiteInfoFetch.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

using namespace std::chrono_literals;
using Kind = SiteInfoError::Kind;

template <typename Operation>
std::optional<Kind> failureOf(Operation operation) {
  try {
    operation();
  } catch (const SiteInfoError& error) {
    return error.kind();
  }
  return std::nullopt;
}

constexpr const char* kBootstrap = R"({"version": "1.0", "services": [
  [["com", "net"], ["https://rdap.verisign.test:{port}/com/v1/"]],
  [["de"], ["http://rdap.denic.test:{port}/plain/", "https://rdap.denic.test:{port}/"]],
  [["uk", "co.uk"], ["https://rdap.nominet.test:{port}/uk/"]],
  [["xn--p1ai"], ["https://rdap.tcinet.test:{port}/rf/"]],
  [["broken"], ["not a url at all"]]
]})";

std::string withPort(std::string text, int port) {
  for (std::size_t at; (at = text.find("{port}")) != std::string::npos;) {
    text.replace(at, 6, std::to_string(port));
  }
  return text;
}

TEST(RDAPBootstrap, suffixesPreferHttpsAndTheLongestMatch) {
  const auto bootstrap = RDAPBootstrap::parse(withPort(kBootstrap, 1));
  EXPECT_EQ(bootstrap.baseURL("Example.COM"), "https://rdap.verisign.test:1/com/v1/");
  EXPECT_EQ(bootstrap.baseURL("beispiel.de"), "https://rdap.denic.test:1/");
  EXPECT_EQ(bootstrap.baseURL("a.example.co.uk."), "https://rdap.nominet.test:1/uk/");
  EXPECT_EQ(bootstrap.baseURL("example.broken"), std::nullopt);
  EXPECT_EQ(bootstrap.baseURL("example.org"), std::nullopt);
  for (const char* body : {R"({"services": []})", R"({"services": [[["com"]]]})", "[]", "garbage"}) {
    EXPECT_EQ(failureOf([&] { RDAPBootstrap::parse(body); }), Kind::invalidResponse) << body;
  }
}

// A transport that answers the bootstrap address from a script and counts its requests.
struct ScriptedFetch {
  std::vector<std::optional<Http::Response>> answers;  // nothing = the network is down
  std::atomic<int> requests = 0;

  RDAPClient::Fetch fetch() {
    return [this](const Http::Request& request) {
      EXPECT_EQ(request.url, RDAPBootstrap::source);
      const int index = requests++;
      const auto& answer = answers.at(static_cast<std::size_t>(index));
      if (!answer) throw SiteInfoError::network("The Internet connection appears to be offline.");
      return *answer;
    };
  }
};

TEST(RDAPClient, bootstrapIsCachedForAWeekAndStaleCopiesOutliveOutages) {
  testing::TemporaryDirectory folder;
  const auto cache = SiteInfo::bootstrapCache(folder.path());
  const std::string first = withPort(kBootstrap, 1);
  const std::string second = withPort(kBootstrap, 2);
  ScriptedFetch script{.answers = {std::nullopt, Http::Response{.status = 200, .body = first},
                                   Http::Response{.status = 503}, Http::Response{.status = 200, .body = second}}};
  RDAPClient client(cache, PublicSuffixList::icannShared(), script.fetch());
  const Date now = Date::now();

  // No cache and no network: the network's error.
  EXPECT_EQ(failureOf([&] { client.bootstrap(now); }), Kind::network);
  // A download fills the cache (its folder made on the way); within the week it is used as is.
  EXPECT_EQ(client.bootstrap(now), RDAPBootstrap::parse(first));
  EXPECT_EQ(client.bootstrap(now.adding(6 * 86400)), RDAPBootstrap::parse(first));
  EXPECT_EQ(script.requests, 2);
  // After a week a failed download falls back on the stale copy; a good one replaces it.
  const Date later = now.adding(8 * 86400);
  EXPECT_EQ(client.bootstrap(later), RDAPBootstrap::parse(first));
  EXPECT_EQ(client.bootstrap(later), RDAPBootstrap::parse(second));
  EXPECT_EQ(script.requests, 4);
  EXPECT_EQ(RDAPBootstrap::parse(Files::read(cache)), RDAPBootstrap::parse(second));
}

TEST(RDAPClient, hostsWithoutARegistrableDomainFailBeforeAnyRequest) {
  ScriptedFetch script;  // any request fails the test through `at`
  RDAPClient client({}, PublicSuffixList::icannShared(), script.fetch());
  EXPECT_EQ(failureOf([&] { client.lookup("192.168.0.1"); }), Kind::ipAddress);
  EXPECT_EQ(failureOf([&] { client.lookup("[::1]"); }), Kind::ipAddress);
  EXPECT_EQ(failureOf([&] { client.lookup("nas"); }), Kind::noRegistrableDomain);
  EXPECT_EQ(failureOf([&] { client.lookup("co.uk"); }), Kind::noRegistrableDomain);
  EXPECT_EQ(failureOf([&] { client.lookup(""); }), Kind::noHost);
  EXPECT_EQ(script.requests, 0);
  // Sites under a private suffix are looked up under the name their registry knows.
  EXPECT_EQ(client.registrableDomain("someone.github.io"), "github.io");
  EXPECT_EQ(client.registrableDomain("a.blogspot.com"), "blogspot.com");
  EXPECT_EQ(client.registrableDomain("WWW.Bücher.de"), "xn--bcher-kva.de");
  EXPECT_EQ(PublicSuffixList::shared().registrableDomain("someone.github.io"), "someone.github.io");
}

}  // namespace
}  // namespace linkferry
