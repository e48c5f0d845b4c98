#include "siteinfo/SiteInfoFetch.h"

#include <algorithm>

#include "foundation/Text.h"
#include "foundation/URL.h"
#include "siteinfo/SiteInfoError.h"

namespace linkferry::SiteInfo {
namespace {

bool isRedirect(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

RDAPClient::Fetch urlSessionFetch(FetchOptions options) {
  return [options](const Http::Request& original) {
    using Clock = std::chrono::steady_clock;
    // The caller's limit when it is shorter; the whole chain of redirects shares it.
    auto limit = std::min(original.timeout, options.timeout * 2);
    Clock::time_point deadline = Clock::now() + limit;
    Http::Request request = original;
    request.maxBodyBytes = options.maxBodyBytes;
    request.caFile = options.caFile;
    request.resolve = options.resolve;
    request.publicAddressesOnly = options.publicAddressesOnly;
    for (int step = 0;; ++step) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) throw SiteInfoError::network("the request timed out");
      request.timeout = left;
      Http::Response response;
      try {
        response = Http::send(request);
      } catch (const Http::HttpBodyTooLarge&) {
        throw SiteInfoError::invalidResponse();
      } catch (const Http::HttpError& error) {
        throw SiteInfoError::network(error.what());
      }
      if (!isRedirect(response.status)) return response;
      std::optional<std::string> location = response.header("Location");
      if (!location || step >= options.maxRedirects) throw SiteInfoError::invalidResponse();
      std::optional<URL> base = URL::parse(request.url);
      std::optional<URL> next = base ? base->resolving(*location) : std::nullopt;
      std::optional<std::string> scheme = next ? next->scheme() : std::nullopt;
      if (!scheme) throw SiteInfoError::invalidResponse();
      std::string lower = Text::asciiLowercased(*scheme);
      if (lower != "https" && lower != "http") throw SiteInfoError::invalidResponse();
      request.url = next->absoluteString();
    }
  };
}

std::filesystem::path bootstrapCache(const std::filesystem::path& dataFolder) {
  return dataFolder / "cache" / "rdap-dns.json";
}

}  // namespace linkferry::SiteInfo
