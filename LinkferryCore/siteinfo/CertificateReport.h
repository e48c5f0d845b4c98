#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Dates.h"

struct x509_st;  // OpenSSL's X509

namespace linkferry {

// What a server's TLS certificate says about it, and whether this system trusts it for the host.
// Names are UTF-8 whatever string type the certificate uses.
struct CertificateReport {
  bool trusted = false;
  // Why the chain is not trusted (absent when trusted).
  std::optional<std::string> trustError{};
  // The subject's common name, else a one-line summary of the subject.
  std::optional<std::string> commonName{};
  std::optional<std::string> organization{};
  // The DNS names among the subject alternative names, in certificate order.
  std::vector<std::string> subjectAltNames{};
  std::optional<std::string> issuerOrganization{};
  std::optional<std::string> issuerCommonName{};
  std::optional<Date> validFrom{};
  std::optional<Date> validUntil{};
  // Certificates in the chain as evaluated, the leaf included.
  long long chainLength = 0;

  // The report of a leaf certificate; the verdict comes from the evaluation of its chain.
  static CertificateReport fromLeaf(const x509_st* leaf, long long chainLength, bool trusted,
                                    std::optional<std::string> trustError);

  // The organisation as one the certificate authority vouches for: only a trusted certificate
  // verifies anything, a self-signed one may name whom it likes.
  std::optional<std::string> verifiedOrganization() const {
    return trusted ? organization : std::nullopt;
  }

  bool operator==(const CertificateReport&) const = default;
};

// The words naming whose trust store judged the certificate ("valid and trusted by ...").
inline constexpr const char* kTrustStoreName = "this system";

}  // namespace linkferry

template <>
struct std::hash<linkferry::CertificateReport> {
  std::size_t operator()(const linkferry::CertificateReport& report) const noexcept;
};
