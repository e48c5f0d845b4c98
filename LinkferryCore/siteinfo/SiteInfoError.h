#pragma once

#include <exception>
#include <string>

namespace linkferry {

// Why a site information lookup gave no answer. `what()` is the message the user reads.
class SiteInfoError : public std::exception {
 public:
  enum class Kind { ipAddress, noRegistrableDomain, noRDAP, notFound, http, network, noHost, invalidResponse };

  static SiteInfoError ipAddress(std::string address) { return {Kind::ipAddress, std::move(address), 0}; }
  static SiteInfoError noRegistrableDomain(std::string host) {
    return {Kind::noRegistrableDomain, std::move(host), 0};
  }
  static SiteInfoError noRDAP(std::string tld) { return {Kind::noRDAP, std::move(tld), 0}; }
  static SiteInfoError notFound(std::string domain) { return {Kind::notFound, std::move(domain), 0}; }
  static SiteInfoError http(long long status) { return {Kind::http, {}, status}; }
  static SiteInfoError network(std::string description) {
    return {Kind::network, std::move(description), 0};
  }
  static SiteInfoError noHost() { return {Kind::noHost, {}, 0}; }
  static SiteInfoError invalidResponse() { return {Kind::invalidResponse, {}, 0}; }

  Kind kind() const { return m_kind; }
  // The address, host, top-level domain, domain or network description the case carries.
  const std::string& text() const { return m_text; }
  long long status() const { return m_status; }

  const char* what() const noexcept override { return m_message.c_str(); }

  bool operator==(const SiteInfoError& other) const {
    return m_kind == other.m_kind && m_text == other.m_text && m_status == other.m_status;
  }

 private:
  SiteInfoError(Kind kind, std::string text, long long status);

  Kind m_kind;
  std::string m_text;
  long long m_status;
  std::string m_message;
};

}  // namespace linkferry
