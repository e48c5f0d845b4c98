#pragma once

#include <set>
#include <string>
#include <string_view>

#include "foundation/URL.h"

// The hosts of URL shorteners, whose links say nothing about where they lead. A fixed table,
// built once; callable from any thread.
namespace linkferry::ShortLinks {

// 36 lower-cased host names, matched exactly (no subdomains).
const std::set<std::string, std::less<>>& hosts();

// An http or https link whose host, lower-cased and without one leading "www.", is a shortener
// host.
bool isShortener(const URL& url);

// Compact display text: host (empty when missing) and path, the path left out when it is "/";
// longer than 40 characters: the first 39 and "…".
std::string shortText(const URL& url);

}  // namespace linkferry::ShortLinks
