#include "router/SiteDomain.h"

namespace linkferry {

std::optional<SiteDomain> SiteDomain::of(const URL& url, const PublicSuffixList& psl) {
  const auto host = url.host();
  if (!host || PublicSuffixList::isIPAddress(*host)) return std::nullopt;
  auto key = psl.siteKey(*host);
  if (!key || PublicSuffixList::isIPAddress(*key)) return std::nullopt;
  auto shown = psl.registrableDomain(*host);
  return SiteDomain{*key, shown ? std::move(*shown) : *key};
}

}  // namespace linkferry
