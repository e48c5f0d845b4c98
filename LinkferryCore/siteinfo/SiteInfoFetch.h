#pragma once

#include <chrono>
#include <filesystem>
#include <string>

#include "siteinfo/RDAPClient.h"

namespace linkferry::SiteInfo {

struct FetchOptions {
  // The limit for each request, redirects included: twice the connection limit.
  std::chrono::milliseconds timeout{60'000};
  // Redirects followed, one step at a time, before the answer counts as invalid.
  int maxRedirects = 5;
  // RDAP answers are small; a longer one is refused as invalid.
  std::size_t maxBodyBytes = 4 * 1024 * 1024;
  // The only authorities trusted for https (a PEM file); empty = this system's store.
  std::string caFile{};
  // Registries' answers name further hosts (a registrar's record, a redirect): none of them may
  // lead into the user's own network, whatever its name resolves to.
  bool publicAddressesOnly = true;
  // Fixed name resolutions, "host:port:address", exempt from that rule; empty in ordinary use.
  std::vector<std::string> resolve{};
};

// The transport for RDAPClient over foundation/Http: no cookies, cache, credentials or proxy,
// http and https only, redirects followed step by step up to the limit. A failed connection
// throws SiteInfoError::network, an answer over the size limit or too many redirects
// SiteInfoError::invalidResponse.
RDAPClient::Fetch urlSessionFetch(FetchOptions options);

// Where the bootstrap file is cached: "cache/rdap-dns.json" in the data folder.
std::filesystem::path bootstrapCache(const std::filesystem::path& dataFolder);

}  // namespace linkferry::SiteInfo
