#include "siteinfo/RDAPClient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>

#include "fixtures/HttpsServer.h"
#include "fixtures/TestAuthority.h"
#include "foundation/Files.h"
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

TEST(RDAPBootstrap, suffixesPreferHttpsAndTheLongestMatch) {
  const auto bootstrap = RDAPBootstrap::parse(testing::withPort(kBootstrap, 1));
  EXPECT_EQ(bootstrap.baseURL("Example.COM"), "https://rdap.verisign.test:1/com/v1/");
  EXPECT_EQ(bootstrap.baseURL("beispiel.de"), "https://rdap.denic.test:1/");
  EXPECT_EQ(bootstrap.baseURL("a.example.co.uk."), "https://rdap.nominet.test:1/uk/");
  EXPECT_EQ(bootstrap.baseURL("example.broken"), std::nullopt);
  EXPECT_EQ(bootstrap.baseURL("example.org"), std::nullopt);
  for (const char* body :
       {R"({"services": []})", R"({"services": [[["com"]]]})", "[]", "garbage"}) {
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
  const std::string first = testing::withPort(kBootstrap, 1);
  const std::string second = testing::withPort(kBootstrap, 2);
  ScriptedFetch script{.answers = {std::nullopt, Http::Response{.status = 200, .body = first},
                                   Http::Response{.status = 503},
                                   Http::Response{.status = 200, .body = second}}};
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

constexpr const char* kRegistryHosts[] = {"rdap.verisign.test", "rdap.denic.test",
                                          "rdap.nominet.test", "rdap.tcinet.test",
                                          "rdap.registrar.test"};

std::map<std::string, testing::HttpsRoute> rdapRoutes() {
  std::map<std::string, testing::HttpsRoute> routes;
  // A thin registry: the registrant is redacted and the registrar's record has it.
  routes["/com/v1/domain/example.com"] = {.body = R"({"objectClassName": "domain",
    "ldhName": "EXAMPLE.COM", "status": ["active"],
    "events": [{"eventAction": "registration", "eventDate": "1995-08-14T04:00:00Z"}],
    "entities": [{"roles": ["registrar"], "vcardArray": ["vcard", [["fn", {}, "text", "Example Registrar"]]]}],
    "redacted": [{"name": {"type": "Registrant Name"}}],
    "links": [{"rel": "related", "type": "application/rdap+json",
               "href": "https://rdap.registrar.test:{port}/moved/example.com"}]})"};
  routes["/moved/example.com"] = {.status = 301, .location = "/registrar/domain/example.com"};
  routes["/registrar/domain/example.com"] = {.body = R"({"objectClassName": "domain",
    "ldhName": "example.com", "events": [{"eventAction": "expiration", "eventDate": "2030-08-13T04:00:00Z"}],
    "entities": [{"roles": ["registrant"], "vcardArray": ["vcard", [["org", {}, "text", "Example Holdings"],
      ["adr", {"cc": "us"}, "text", ["", "", "", "", "", "", ""]]]]}]})"};
  // DENIC publishes neither the registrant nor any dates.
  routes["/domain/xn--bcher-kva.de"] = {.body = R"({"objectClassName": "domain",
    "ldhName": "xn--bcher-kva.de", "unicodeName": "bücher.de", "status": ["active"],
    "entities": [{"roles": ["registrant"], "vcardArray": ["vcard", [["fn", {}, "text", "REDACTED"]]]}]})"};
  routes["/uk/domain/example.co.uk"] = {
      .body = R"({"objectClassName": "domain", "ldhName": "example.co.uk",
    "events": [{"eventAction": "registration", "eventDate": "1996-08-01T00:00:00.000Z"}],
    "entities": [{"roles": ["registrar"], "vcardArray": ["vcard", [["fn", {}, "text", "Nominet"]]]}]})"};
  routes["/rf/domain/xn--e1afmkfd.xn--p1ai"] = {.body = R"({"objectClassName": "domain",
    "ldhName": "xn--e1afmkfd.xn--p1ai", "entities": [{"roles": ["registrant"],
      "vcardArray": ["vcard", [["org", {}, "text", "Домен"]]]}]})"};
  // A registrar link into the user's own network is never followed.
  routes["/com/v1/domain/inside.com"] = {.body = R"({"objectClassName": "domain",
    "links": [{"rel": "related", "type": "application/rdap+json",
               "href": "https://localhost:{port}/registrar/domain/example.com"}]})"};
  routes["/com/v1/domain/garbage.com"] = {.body = "<html>Service temporarily unavailable</html>"};
  routes["/com/v1/domain/huge.com"] = {.endlessBytes = 100u * 1024 * 1024};
  routes["/com/v1/domain/slow.com"] = {.hang = true};
  routes["/com/v1/domain/busy.com"] = {.status = 503};
  routes["/com/v1/domain/loop.com"] = {.status = 302, .location = "/com/v1/domain/loop.com"};
  routes["/com/v1/domain/away.com"] = {.status = 302, .location = "file:///etc/passwd"};
  return routes;
}

class RDAPLoopbackTest : public ::testing::Test {
 protected:
  RDAPLoopbackTest()
      : m_caKey(testing::makeKey()),
        m_ca(testing::makeCertificate({.commonName = "LinkFerry Test Root",
                                       .validFrom = -testing::kDay,
                                       .validUntil = 30 * testing::kDay,
                                       .authority = true},
                                      m_caKey.get())),
        m_key(testing::makeKey()),
        m_leaf(testing::makeCertificate(
            {.commonName = "rdap.test",
             .dnsNames = {std::begin(kRegistryHosts), std::end(kRegistryHosts)}},
            m_key.get(), m_ca.get(), m_caKey.get())),
        m_server(m_leaf.get(), m_key.get(), rdapRoutes()) {
    m_folder.write("cache/rdap-dns.json", testing::withPort(kBootstrap, m_server.port()));
  }

  SiteInfo::FetchOptions options(std::chrono::milliseconds timeout = 10s) {
    SiteInfo::FetchOptions result{.timeout = timeout,
                                  .caFile = m_folder.write("ca.pem", testing::pem(m_ca.get()))};
    for (const char* host : kRegistryHosts) {
      result.resolve.push_back(std::string(host) + ":" + std::to_string(m_server.port()) +
                               ":127.0.0.1");
    }
    return result;
  }
  RDAPClient client(SiteInfo::FetchOptions fetchOptions) {
    return RDAPClient(SiteInfo::bootstrapCache(m_folder.path()), PublicSuffixList::icannShared(),
                      SiteInfo::urlSessionFetch(std::move(fetchOptions)));
  }

  testing::TemporaryDirectory m_folder;
  testing::Key m_caKey;
  testing::Certificate m_ca;
  testing::Key m_key;
  testing::Certificate m_leaf;
  testing::HttpsServer m_server;
};

TEST_F(RDAPLoopbackTest, registryAnswersForEachKindOfRegistry) {
  const RDAPClient rdap = client(options());

  // The registrar's record, reached through a redirect, fills in the registrant.
  const DomainRegistration com = rdap.lookup("www.example.com");
  EXPECT_EQ(com.domain, "example.com");
  EXPECT_EQ(com.registrar, "Example Registrar");
  EXPECT_EQ(com.registrantOrganization, "Example Holdings");
  EXPECT_EQ(com.registrantCountry, "US");
  EXPECT_FALSE(com.registrantHidden);
  EXPECT_EQ(com.registered, Date{808372800});
  EXPECT_EQ(com.expires, Date{1912824000});
  EXPECT_EQ(com.status, std::vector<std::string>{"active"});

  const DomainRegistration de = rdap.lookup("www.bücher.de");
  EXPECT_EQ(de.domain, "xn--bcher-kva.de");
  EXPECT_TRUE(de.registrantHidden);
  EXPECT_EQ(de.registrantOrganization, std::nullopt);
  EXPECT_EQ(de.registered, std::nullopt);

  const DomainRegistration uk = rdap.lookup("example.co.uk");
  EXPECT_EQ(uk.registrar, "Nominet");
  EXPECT_EQ(uk.registered, Date{838857600});
  EXPECT_FALSE(uk.registrantHidden);

  const DomainRegistration rf = rdap.lookup("www.пример.рф");
  EXPECT_EQ(rf.domain, "xn--e1afmkfd.xn--p1ai");
  EXPECT_EQ(rf.registrantOrganization, "Домен");

  const DomainRegistration inside = rdap.lookup("inside.com");
  EXPECT_EQ(inside.domain, "inside.com");
  EXPECT_EQ(inside.registrantOrganization, std::nullopt);

  EXPECT_EQ(m_server.paths(),
            (std::vector<std::string>{
                "/com/v1/domain/example.com", "/moved/example.com", "/registrar/domain/example.com",
                "/domain/xn--bcher-kva.de", "/uk/domain/example.co.uk",
                "/rf/domain/xn--e1afmkfd.xn--p1ai", "/com/v1/domain/inside.com"}));
}

TEST_F(RDAPLoopbackTest, failuresEndWithinTheirLimitAsFixedErrors) {
  const RDAPClient rdap = client(options(1500ms));
  struct Case {
    const char* host;
    Kind kind;
  };
  for (const Case& test :
       {Case{"nothing.com", Kind::notFound}, Case{"busy.com", Kind::http},
        Case{"garbage.com", Kind::invalidResponse}, Case{"huge.com", Kind::invalidResponse},
        Case{"loop.com", Kind::invalidResponse}, Case{"away.com", Kind::invalidResponse},
        Case{"example.org", Kind::noRDAP}, Case{"slow.com", Kind::network}}) {
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(failureOf([&] { rdap.lookup(test.host); }), test.kind) << test.host;
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s) << test.host;
  }
  try {
    rdap.lookup("busy.com");
  } catch (const SiteInfoError& error) {
    EXPECT_STREQ(error.what(), "The server answered with error 503.");
  }
}

TEST_F(RDAPLoopbackTest, onlyTheTestAuthorityMakesTheServiceTrusted) {
  SiteInfo::FetchOptions untrusted = options();
  untrusted.caFile = (m_folder.path() / "missing.pem").string();
  EXPECT_EQ(failureOf([&] { client(untrusted).lookup("example.com"); }), Kind::network);
  EXPECT_TRUE(m_server.paths().empty());
}

}  // namespace
}  // namespace linkferry
