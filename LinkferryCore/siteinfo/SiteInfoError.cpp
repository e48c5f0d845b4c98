#include "siteinfo/SiteInfoError.h"

namespace linkferry {

namespace {

std::string message(SiteInfoError::Kind kind, const std::string& text, long long status) {
  using Kind = SiteInfoError::Kind;
  switch (kind) {
    case Kind::ipAddress:
      return text + " is an IP address: there is no domain registration to look up.";
    case Kind::noRegistrableDomain:
      return text + " is not a registrable domain.";
    case Kind::noRDAP:
      return "The registry of ." + text + " publishes no registration data (no RDAP service).";
    case Kind::notFound:
      return "No registration found for " + text + ": the domain may not exist.";
    case Kind::http:
      return "The server answered with error " + std::to_string(status) + ".";
    case Kind::network:
      return "Could not connect: " + text;
    case Kind::noHost:
      return "This link has no host.";
    case Kind::invalidResponse:
      return "Unexpected answer from the server.";
  }
  return {};
}

}  // namespace

SiteInfoError::SiteInfoError(Kind kind, std::string text, long long status)
    : m_kind(kind), m_text(std::move(text)), m_status(status),
      m_message(message(m_kind, m_text, m_status)) {}

}  // namespace linkferry
