#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Dates.h"
#include "foundation/Http.h"
#include "siteinfo/DomainRegistration.h"

namespace linkferry {

class PublicSuffixList;

// IANA's RDAP bootstrap file for domains (RFC 9224): which registry answers for which suffix.
struct RDAPBootstrap {
  // Lower-cased suffix → the base URLs of its registry's RDAP service, in file order.
  std::map<std::string, std::vector<std::string>> servers;

  static constexpr std::string_view source = "https://data.iana.org/rdap/dns.json";

  // Throws SiteInfoError::invalidResponse for a text that is no bootstrap file or names no service.
  static RDAPBootstrap parse(std::string_view body);

  // The base URL for a domain: that of its longest listed suffix, preferring https.
  std::optional<std::string> baseURL(std::string_view domain) const;

  bool operator==(const RDAPBootstrap&) const = default;
};

// Looks up a host's registration over RDAP. Each call is independent; instances may be used from
// several threads at once (they share only the cache file, replaced atomically).
class RDAPClient {
 public:
  // The transport: sends a request and returns the response whatever its status. Throws
  // SiteInfoError (or another error) when there is no response.
  using Fetch = std::function<Http::Response(const Http::Request&)>;

  static constexpr double kCacheLifetime = 604'800;  // seconds: a week
  static constexpr std::chrono::milliseconds kRequestTimeout{60'000};

  // `psl` must outlive the client; `cacheFile` empty means no cache.
  RDAPClient(std::filesystem::path cacheFile, const PublicSuffixList& psl, Fetch fetch);

  // The registration of the host's registrable domain, merged with the registrar's record when
  // the registry leaves the registrant out. Throws SiteInfoError.
  DomainRegistration lookup(std::string_view host) const;

  // The registrable domain in ASCII form. Throws noHost, ipAddress or noRegistrableDomain.
  std::string registrableDomain(std::string_view host) const;

  // The cached bootstrap file while younger than a week, otherwise a fresh one (written to the
  // cache), or the stale cached one when the download fails.
  RDAPBootstrap bootstrap(Date now) const;

 private:
  Http::Response get(const std::string& url) const;

  std::filesystem::path m_cacheFile;
  const PublicSuffixList* m_psl;
  Fetch m_fetch;
};

}  // namespace linkferry
