#pragma once

#include <string_view>

// Host tests shared by the preparation tables.
namespace linkferry::HostMatch {

// The host equals `domain` or ends with "." + `domain` ("m.youtube.com" is on "youtube.com";
// "notyoutube.com" is not). Both sides are compared as given: callers lower-case the host.
inline bool isDomainOrSubdomain(std::string_view host, std::string_view domain) {
  if (host.size() == domain.size()) return host == domain;
  return host.size() > domain.size() && host.ends_with(domain) &&
         host[host.size() - domain.size() - 1] == '.';
}

}  // namespace linkferry::HostMatch
