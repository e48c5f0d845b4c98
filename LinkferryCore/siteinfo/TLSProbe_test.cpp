#include "siteinfo/TLSProbe.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "fixtures/HttpsServer.h"
#include "fixtures/TestAuthority.h"
#include "siteinfo/SiteInfoError.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

using namespace std::chrono_literals;

using testing::Certificate;
using testing::Key;
using testing::kDay;
using testing::listenOnLoopback;
using testing::makeCertificate;
using testing::makeKey;
using testing::pem;
using testing::Subject;

// A TLS server on 127.0.0.1 that completes handshakes until it is destroyed; the probe hangs up
// once it has seen the certificate, so no route is ever asked for.
class TLSServer : public testing::HttpsServer {
 public:
  TLSServer(X509* leaf, EVP_PKEY* key) : HttpsServer(leaf, key, {}) {}
};

// One test authority, trusted only through its file in the probe's trust configuration.
class TLSProbeTest : public ::testing::Test {
 protected:
  TLSProbeTest()
      : m_caKey(makeKey()),
        m_ca(makeCertificate({.commonName = "LinkFerry Test Root",
                              .organization = "Test Authority",
                              .validFrom = -30 * kDay,
                              .validUntil = 3650 * kDay,
                              .authority = true},
                             m_caKey.get())),
        m_trust{.caFile = m_folder.write("ca.pem", pem(m_ca.get()))} {}

  Certificate issue(const Subject& subject, EVP_PKEY* key) {
    return makeCertificate(subject, key, m_ca.get(), m_caKey.get());
  }
  CertificateReport probe(X509* leaf, EVP_PKEY* key, const std::string& host = "localhost") {
    TLSServer server(leaf, key);
    return TLSProbe::fetch(host, server.port(), 10s, m_trust);
  }

  testing::TemporaryDirectory m_folder;
  Key m_caKey;
  Certificate m_ca;
  TLSProbe::Trust m_trust;
  Key m_key = makeKey();
};

TEST_F(TLSProbeTest, trustedChainIsReportedWithNamesDatesAndVerifiedOrganization) {
  const Date now = Date::now();
  auto leaf = issue({.commonName = "localhost",
                     .organization = "Zürich Rückversicherung",
                     .organizationAsBMP = true,
                     .dnsNames = {"localhost", "www.localhost", "api.localhost"},
                     .validFrom = -kDay},
                    m_key.get());
  const auto report = probe(leaf.get(), m_key.get());
  EXPECT_TRUE(report.trusted);
  EXPECT_EQ(report.trustError, std::nullopt);
  EXPECT_EQ(report.commonName, "localhost");
  EXPECT_EQ(report.organization, "Zürich Rückversicherung");
  EXPECT_EQ(report.verifiedOrganization(), "Zürich Rückversicherung");
  EXPECT_EQ(report.subjectAltNames,
            (std::vector<std::string>{"localhost", "www.localhost", "api.localhost"}));
  EXPECT_EQ(report.issuerCommonName, "LinkFerry Test Root");
  EXPECT_EQ(report.issuerOrganization, "Test Authority");
  EXPECT_EQ(report.chainLength, 2);
  // Issued yesterday: the date is exact to the second, so the caller can tell it is a day old.
  ASSERT_TRUE(report.validFrom && report.validUntil);
  EXPECT_NEAR(now.secondsSince(*report.validFrom), kDay, 5);
  EXPECT_NEAR(report.validUntil->secondsSince(now), 90 * kDay, 5);

  // The same chain reached by its address: the name is checked against the certificate instead.
  TLSServer server(leaf.get(), m_key.get());
  const auto byAddress = TLSProbe::fetch("127.0.0.1", server.port(), 10s, m_trust);
  EXPECT_FALSE(byAddress.trusted);
  EXPECT_EQ(byAddress.verifiedOrganization(), std::nullopt);
}

TEST_F(TLSProbeTest, untrustedCertificatesAreReportsWithTheReasonNotErrors) {
  struct Case {
    const char* name;
    Subject subject;
    bool selfSigned;
    std::string host;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"expired",
       {.commonName = "localhost", .organization = "Old Shop", .dnsNames = {"localhost"},
        .validFrom = -400 * kDay, .validUntil = -kDay},
       false, "localhost", "certificate has expired"},
      {"not yet valid",
       {.commonName = "localhost", .organization = "Early Shop", .dnsNames = {"localhost"},
        .validFrom = 2 * kDay, .validUntil = 90 * kDay},
       false, "localhost", "certificate is not yet valid"},
      {"self-signed",
       {.commonName = "localhost", .organization = "Bank of Everything", .dnsNames = {"localhost"}},
       true, "localhost", "self-signed certificate"},
      {"wrong host",
       {.commonName = "shop.example", .organization = "Shop", .dnsNames = {"shop.example"}},
       false, "localhost", "hostname mismatch"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    auto leaf = test.selfSigned ? makeCertificate(test.subject, m_key.get())
                                : issue(test.subject, m_key.get());
    const auto report = probe(leaf.get(), m_key.get(), test.host);
    EXPECT_FALSE(report.trusted);
    ASSERT_TRUE(report.trustError);
    EXPECT_NE(report.trustError->find(test.error), std::string::npos) << *report.trustError;
    // Who the certificate claims to be is still shown, but its organisation is not vouched for.
    EXPECT_EQ(report.commonName, test.subject.commonName);
    EXPECT_EQ(report.organization, test.subject.organization);
    EXPECT_EQ(report.verifiedOrganization(), std::nullopt);
    EXPECT_TRUE(report.validFrom && report.validUntil);
    EXPECT_GE(report.chainLength, 1);
  }
}

TEST_F(TLSProbeTest, subjectWithoutCommonNameIsSummarisedByItsFirstName) {
  auto leaf = issue({.dnsNames = {"localhost", "other.localhost"}}, m_key.get());
  const auto report = probe(leaf.get(), m_key.get());
  EXPECT_TRUE(report.trusted);
  EXPECT_EQ(report.commonName, "localhost");
  EXPECT_EQ(report.organization, std::nullopt);
}

TEST_F(TLSProbeTest, systemStoreDoesNotTrustTheTestAuthority) {
  auto leaf = issue({.commonName = "localhost", .dnsNames = {"localhost"}}, m_key.get());
  TLSServer server(leaf.get(), m_key.get());
  const auto report = TLSProbe::fetch("localhost", server.port(), 10s);
  EXPECT_FALSE(report.trusted);
  EXPECT_TRUE(report.trustError);
}

TEST(TLSProbe, failuresAreSiteInfoErrors) {
  auto kindOf = [](const std::string& host, int port, std::chrono::milliseconds timeout) {
    try {
      TLSProbe::fetch(host, port, timeout);
    } catch (const SiteInfoError& error) {
      return error.kind();
    }
    ADD_FAILURE() << "no error for " << host;
    return SiteInfoError::Kind::invalidResponse;
  };
  EXPECT_EQ(kindOf("", 443, 1s), SiteInfoError::Kind::noHost);
  EXPECT_EQ(kindOf("xn--ab_c.example", 443, 1s), SiteInfoError::Kind::noHost);

  // Nothing listens on a port that was just given back.
  int port = 0;
  ::close(listenOnLoopback(port));
  EXPECT_EQ(kindOf("127.0.0.1", port, 5s), SiteInfoError::Kind::network);

  // A server that accepts the connection (in the kernel's backlog) but never speaks.
  const int silent = listenOnLoopback(port);
  EXPECT_EQ(kindOf("127.0.0.1", port, 200ms), SiteInfoError::Kind::network);
  ::close(silent);

  EXPECT_STREQ(SiteInfoError::network("The connection timed out.").what(),
               "Could not connect: The connection timed out.");
  EXPECT_STREQ(SiteInfoError::noHost().what(), "This link has no host.");
}

TEST(CertificateReport, equalReportsHashAlike) {
  CertificateReport a{.trusted = true, .commonName = "a.example", .subjectAltNames = {"a.example"},
                      .validFrom = Date{1'700'000'000}, .chainLength = 3};
  CertificateReport b = a;
  EXPECT_EQ(a, b);
  EXPECT_EQ(std::hash<CertificateReport>()(a), std::hash<CertificateReport>()(b));
  b.chainLength = 2;
  EXPECT_NE(a, b);
  std::unordered_set<CertificateReport> set{a, b};
  EXPECT_EQ(set.size(), 2u);
}

}  // namespace
}  // namespace linkferry
