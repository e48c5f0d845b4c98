#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Http.h"
#include "foundation/URL.h"
#include "preparation/ShortLinkExpansion.h"

namespace linkferry {

// Follows short links over the network, one hop at a time, without loading any page: a HEAD
// request (a GET closed as soon as its head arrived when a server refuses HEAD), no cookies, no
// cache, no stored credentials, no proxy, the user agent "LinkFerry link expander". Redirects are
// followed here, never by the HTTP library, and only while they lead to another shortener over
// http or https; no hop ever connects to a loopback or private address. An immutable value:
// `expand` may run on many threads at once.
class NetworkShortLinkExpander : public ShortLinkExpanding {
 public:
  static constexpr std::string_view userAgent = "LinkFerry link expander";

  struct Configuration {
    // Fixed name resolutions, "host:port:address" (libcurl's resolve list). Their addresses may
    // be reached even when they are not public: a test maps shortener names to its own server on
    // loopback this way. Empty in the application.
    std::vector<std::string> resolve;
  };

  // What one expansion uses: the configuration, the limit of one request, and the moment the
  // whole expansion must be over. No request outlasts that moment, so an expansion that lost the
  // race against its time limit ends on its own right after.
  struct Session {
    Configuration configuration;
    std::chrono::milliseconds requestTimeout;
    std::chrono::steady_clock::time_point deadline;
  };

  // `maxHops`: the most requests made for one link (0: none). `timeout`: the limit of one whole
  // expansion, and of each request within it.
  NetworkShortLinkExpander(int maxHops, std::chrono::milliseconds timeout,
                           Configuration configuration = {});

  // `follow` under the time limit. When the limit passes first: the short link, no hops, failure
  // "timed out". Never fails.
  ShortLinkExpansion expand(const URL& url) const override;

  // Requests `url` and each shortener link it redirects to, until a link that is no shortener's
  // (not requested), `maxHops` requests, or an answer without redirect. Stops without expanding
  // (the short link, with the reason in `failure`) on a failed request, a first answer without
  // redirect ("HTTP 200, no redirect"), a redirect to a link that is neither http nor https, and a
  // redirect loop ("redirect loop"); when a later hop answers 4xx or 5xx, ends at the link before
  // it and names the dead link in `failure`. A request cut short because the session's deadline
  // passed gives the short link, no hops and "timed out", as `expand` does. Never fails.
  static ShortLinkExpansion follow(const URL& url, const Session& session, int maxHops);

  // The response head for `url`: HEAD, then a head-only GET when the HEAD answer is 400, 403, 405
  // or 501. Throws Http::HttpError when there is no answer or the session's time is up.
  static Http::Response headers(const URL& url, const Session& session);

  int maxHops() const { return m_maxHops; }
  std::chrono::milliseconds timeout() const { return m_timeout; }
  const Configuration& configuration() const { return m_configuration; }

 private:
  int m_maxHops;
  std::chrono::milliseconds m_timeout;
  Configuration m_configuration;
};

}  // namespace linkferry
