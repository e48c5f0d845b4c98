#include "router/SiteDomain.h"

namespace linkferry {

std::optional<std::string> siteDomain(const URL& url, const PublicSuffixList& psl) {
  const auto host = url.host();
  if (!host || PublicSuffixList::isIPAddress(*host)) return std::nullopt;
  auto domain = psl.registrableDomain(*host);
  if (!domain || PublicSuffixList::isIPAddress(*domain)) return std::nullopt;
  return domain;
}

}  // namespace linkferry
