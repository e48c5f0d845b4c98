#include "preparation/NetworkShortLinkExpander.h"

#include <algorithm>
#include <utility>

#include "foundation/Text.h"
#include "foundation/Timeout.h"
#include "preparation/ShortLinks.h"

namespace linkferry {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kDeadlineSlack = std::chrono::milliseconds(10);

Http::Response request(const URL& url, Http::Method method,
                       const NetworkShortLinkExpander::Session& session) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(session.deadline - Clock::now());
  if (left.count() <= 0) throw Http::HttpError("timed out");
  Http::Request request;
  request.url = url.absoluteString();
  request.method = method;
  request.headOnly = true;
  request.timeout = std::min(session.requestTimeout, left);
  request.userAgent = std::string(NetworkShortLinkExpander::userAgent);
  request.publicAddressesOnly = true;
  request.resolve = session.configuration.resolve;
  return Http::send(request);
}

bool isWebScheme(const URL& url) {
  auto scheme = url.scheme();
  if (!scheme) return false;
  const std::string lowered = Text::asciiLowercased(*scheme);
  return lowered == "http" || lowered == "https";
}

}  // namespace

NetworkShortLinkExpander::NetworkShortLinkExpander(int maxHops, std::chrono::milliseconds timeout,
                                                   Configuration configuration)
    : m_maxHops(maxHops), m_timeout(timeout), m_configuration(std::move(configuration)) {}

ShortLinkExpansion NetworkShortLinkExpander::expand(const URL& url) const {
  Session session{m_configuration, m_timeout, Clock::now() + m_timeout};
  const int maxHops = m_maxHops;
  // The operation owns copies of everything: when it loses the race it runs on for at most the
  // time its last request has left, then ends by itself.
  auto result = withTimeout<ShortLinkExpansion>(
      m_timeout, [url, session, maxHops] { return follow(url, session, maxHops); });
  if (!result) return {url, {}, "timed out"};
  return std::move(*result);
}

ShortLinkExpansion NetworkShortLinkExpander::follow(const URL& url, const Session& session,
                                                    int maxHops) {
  URL current = url;
  std::vector<URL> hops;
  while (true) {
    if (static_cast<int>(hops.size()) >= maxHops || !ShortLinks::isShortener(current))
      return {current, std::move(hops), std::nullopt};
    hops.push_back(current);
    Http::Response response;
    try {
      response = headers(current, session);
    } catch (const Http::HttpError& error) {
      // A request cut short by the end of the whole expansion's time is that time running out,
      // however the race against the time limit in `expand` ends.
      if (Clock::now() + kDeadlineSlack >= session.deadline) return {url, {}, "timed out"};
      return {url, std::move(hops), error.what()};
    }
    const int status = response.status;
    std::optional<URL> next;
    if (status >= 300 && status <= 399) {
      if (auto location = response.header("Location")) next = current.resolving(*location);
    }
    if (next) {
      // A shortener must not turn a web link into javascript:, file: or an app's link.
      if (!isWebScheme(*next)) {
        return {url, std::move(hops),
                "redirect to a " + next->scheme().value_or("") + ": link, not followed"};
      }
      if (std::find(hops.begin(), hops.end(), *next) != hops.end())
        return {url, std::move(hops), "redirect loop"};
      current = std::move(*next);
      continue;
    }
    if (hops.size() == 1)
      return {url, std::move(hops), "HTTP " + std::to_string(status) + ", no redirect"};
    if (status >= 400) {
      // The chain leads to a dead link: stop at the link that pointed there, and say why.
      URL lastGood = hops[hops.size() - 2];
      std::string why = current.absoluteString() + " answered HTTP " + std::to_string(status);
      return {std::move(lastGood), std::move(hops), std::move(why)};
    }
    return {current, std::move(hops), std::nullopt};
  }
}

Http::Response NetworkShortLinkExpander::headers(const URL& url, const Session& session) {
  Http::Response response = request(url, Http::Method::head, session);
  const int status = response.status;
  if (status != 400 && status != 403 && status != 405 && status != 501) return response;
  return request(url, Http::Method::get, session);
}

}  // namespace linkferry
