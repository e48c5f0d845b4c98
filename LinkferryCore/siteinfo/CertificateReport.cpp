#include "siteinfo/CertificateReport.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <ctime>
#include <functional>

namespace linkferry {

namespace {

std::optional<std::string> utf8(const ASN1_STRING* value) {
  if (value == nullptr) return std::nullopt;
  unsigned char* out = nullptr;
  const int length = ASN1_STRING_to_UTF8(&out, value);
  if (length < 0) return std::nullopt;
  std::string text(reinterpret_cast<const char*>(out), static_cast<std::size_t>(length));
  OPENSSL_free(out);
  return text;
}

std::optional<std::string> firstEntry(const X509_NAME* name, int nid) {
  if (name == nullptr) return std::nullopt;
  const int index = X509_NAME_get_index_by_NID(name, nid, -1);
  if (index < 0) return std::nullopt;
  return utf8(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index)));
}

std::optional<Date> date(const ASN1_TIME* time) {
  std::tm parts{};
  if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) return std::nullopt;
  return Date{static_cast<double>(timegm(&parts))};
}

std::vector<std::string> dnsNames(const X509* certificate) {
  std::vector<std::string> names;
  auto* general = static_cast<GENERAL_NAMES*>(
      X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
  if (general == nullptr) return names;
  for (int i = 0; i < sk_GENERAL_NAME_num(general); ++i) {
    const GENERAL_NAME* entry = sk_GENERAL_NAME_value(general, i);
    if (entry->type != GEN_DNS) continue;
    if (auto name = utf8(entry->d.dNSName)) names.push_back(std::move(*name));
  }
  GENERAL_NAMES_free(general);
  return names;
}

// A one-line description of a subject without a common name: its first DNS name, else its
// distinguished name as UTF-8 text.
std::optional<std::string> subjectSummary(const X509_NAME* subject,
                                          const std::vector<std::string>& names) {
  if (!names.empty()) return names.front();
  if (subject == nullptr || X509_NAME_entry_count(subject) == 0) return std::nullopt;
  BIO* out = BIO_new(BIO_s_mem());
  if (out == nullptr) return std::nullopt;
  X509_NAME_print_ex(out, subject, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
  char* data = nullptr;
  const long length = BIO_get_mem_data(out, &data);
  std::string text(data, static_cast<std::size_t>(length > 0 ? length : 0));
  BIO_free(out);
  if (text.empty()) return std::nullopt;
  return text;
}

}  // namespace

CertificateReport CertificateReport::fromLeaf(const x509_st* leaf, long long chainLength,
                                              bool trusted, std::optional<std::string> trustError) {
  CertificateReport report;
  report.trusted = trusted;
  report.trustError = trusted ? std::nullopt : std::move(trustError);
  report.chainLength = chainLength;
  if (leaf == nullptr) return report;
  const X509_NAME* subject = X509_get_subject_name(leaf);
  const X509_NAME* issuer = X509_get_issuer_name(leaf);
  report.subjectAltNames = dnsNames(leaf);
  report.commonName = firstEntry(subject, NID_commonName);
  if (!report.commonName) report.commonName = subjectSummary(subject, report.subjectAltNames);
  report.organization = firstEntry(subject, NID_organizationName);
  report.issuerCommonName = firstEntry(issuer, NID_commonName);
  report.issuerOrganization = firstEntry(issuer, NID_organizationName);
  report.validFrom = date(X509_get0_notBefore(leaf));
  report.validUntil = date(X509_get0_notAfter(leaf));
  return report;
}

}  // namespace linkferry

std::size_t std::hash<linkferry::CertificateReport>::operator()(
    const linkferry::CertificateReport& report) const noexcept {
  std::size_t seed = 0;
  auto mix = [&seed](std::size_t value) {
    seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
  };
  const std::hash<std::string> text;
  auto optionalText = [&](const std::optional<std::string>& value) {
    mix(value ? text(*value) : 0x51ed);
  };
  auto optionalDate = [&](const std::optional<linkferry::Date>& value) {
    mix(value ? std::hash<double>()(value->secondsSince1970) : 0x7a3e);
  };
  mix(report.trusted);
  optionalText(report.trustError);
  optionalText(report.commonName);
  optionalText(report.organization);
  for (const auto& name : report.subjectAltNames) mix(text(name));
  optionalText(report.issuerOrganization);
  optionalText(report.issuerCommonName);
  optionalDate(report.validFrom);
  optionalDate(report.validUntil);
  mix(std::hash<long long>()(report.chainLength));
  return seed;
}
