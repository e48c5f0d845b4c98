#pragma once

#include <optional>
#include <string>

#include "foundation/URL.h"
#include "safety/PublicSuffixList.h"

namespace linkferry {

// The key under which the signal index files the site of `url`: the registrable domain of its
// host. Nothing for a link without a host, an IP address, a single-label host or a public suffix,
// where no site can be told apart. Shared by the session and history stages.
std::optional<std::string> siteDomain(const URL& url, const PublicSuffixList& psl);

}  // namespace linkferry
