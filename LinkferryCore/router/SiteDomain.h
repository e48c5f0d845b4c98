#pragma once

#include <optional>
#include <string>

#include "foundation/URL.h"
#include "safety/PublicSuffixList.h"

namespace linkferry {

// The site of a link as the session and history stages see it.
struct SiteDomain {
  // What the signal index is keyed by: PublicSuffixList::siteKey, the ASCII form lower-cased.
  std::string key;
  // What the user reads: the registrable domain as ReadableLink shows it, "bücher.de" whether the
  // link wrote "xn--bcher-kva.de" or "b%C3%BCcher.de", a deceptive name in its ASCII form.
  std::string shown;

  // Nothing for a link without a host, an IP address, a single-label host, a public suffix, or a
  // host without an ASCII form, where no site can be told apart.
  static std::optional<SiteDomain> of(const URL& url, const PublicSuffixList& psl);
};

}  // namespace linkferry
