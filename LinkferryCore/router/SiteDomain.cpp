#include "router/SiteDomain.h"

#include "safety/ReadableLink.h"

namespace linkferry {

std::optional<SiteDomain> SiteDomain::of(const URL& url, const PublicSuffixList& psl) {
  const auto host = url.host();
  if (!host || PublicSuffixList::isIPAddress(*host)) return std::nullopt;
  auto key = psl.siteKey(*host);
  if (!key || PublicSuffixList::isIPAddress(*key)) return std::nullopt;
  auto domain = psl.registrableDomain(*host);
  return SiteDomain{*key, ReadableLink::host(domain ? *domain : *key).shown};
}

}  // namespace linkferry
