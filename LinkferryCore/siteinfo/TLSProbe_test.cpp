#include "siteinfo/TLSProbe.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "fixtures/TestAuthority.h"
#include "foundation/SigpipeGuard.h"
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

// A TLS server on 127.0.0.1 that completes handshakes with the given chain until it is destroyed.
// It listens before the constructor returns, so a client may connect at once.
class TLSServer {
 public:
  TLSServer(X509* leaf, EVP_PKEY* key, X509* intermediate = nullptr)
      : m_context(SSL_CTX_new(TLS_server_method())) {
    SSL_CTX_use_certificate(m_context, leaf);
    SSL_CTX_use_PrivateKey(m_context, key);
    if (intermediate != nullptr) SSL_CTX_add1_chain_cert(m_context, intermediate);
    SSL_CTX_set_num_tickets(m_context, 0);
    m_listener = listenOnLoopback(m_port);
    EXPECT_EQ(::pipe(m_stop), 0);
    m_thread = std::thread([this] { serve(); });
  }
  ~TLSServer() {
    EXPECT_EQ(::write(m_stop[1], "x", 1), 1);
    m_thread.join();
    ::close(m_stop[0]);
    ::close(m_stop[1]);
    ::close(m_listener);
    SSL_CTX_free(m_context);
  }
  int port() const { return m_port; }

 private:
  void serve() {
    const SigpipeGuard sigpipe;
    for (;;) {
      pollfd waits[2] = {{m_listener, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
      if (::poll(waits, 2, -1) < 0 || (waits[1].revents & POLLIN) != 0) return;
      const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      SSL* ssl = SSL_new(m_context);
      SSL_set_fd(ssl, client);
      SSL_accept(ssl);  // the probe hangs up once it has seen the certificate
      SSL_free(ssl);
      ::close(client);
    }
  }

  SSL_CTX* m_context;
  int m_listener = -1;
  int m_port = 0;
  int m_stop[2] = {-1, -1};
  std::thread m_thread;
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
