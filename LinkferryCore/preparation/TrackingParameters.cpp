#include "preparation/TrackingParameters.h"

#include <array>
#include <optional>
#include <string>
#include <unordered_set>

#include "foundation/Text.h"
#include "preparation/HostMatch.h"

namespace linkferry::TrackingParameters {
namespace {

const std::unordered_set<std::string_view>& names() {
  static const auto& table = *new std::unordered_set<std::string_view>{
      "fbclid", "gclid",  "gclsrc",   "dclid",     "gbraid",        "wbraid",
      "msclkid", "mc_cid", "mc_eid",  "_hsenc",    "_hsmi",         "hsctatracking",
      "igshid", "igsh",   "yclid",    "ysclid",    "ttclid",        "twclid",
      "li_fat_id", "epik", "rb_clickid", "s_cid",  "mkt_tok",       "wickedid",
      "_ga",    "_gl",    "_kx",      "irclickid", "sc_cid",        "ml_subscriber",
      "ml_subscriber_hash", "trk"};
  return table;
}

constexpr std::array<std::string_view, 8> kPrefixes = {"utm_", "pk_",  "mtm_", "hsa_",
                                                       "__hs", "oly_", "vero_", "_bta_"};

bool isSiteSpecific(std::string_view lowered, std::string_view host) {
  if (lowered == "si" || lowered == "feature" || lowered == "pp") {
    if (HostMatch::isDomainOrSubdomain(host, "youtube.com") ||
        HostMatch::isDomainOrSubdomain(host, "youtu.be"))
      return true;
    return lowered == "si" && host == "open.spotify.com";
  }
  if (lowered == "ref_src") {
    return HostMatch::isDomainOrSubdomain(host, "twitter.com") ||
           HostMatch::isDomainOrSubdomain(host, "x.com");
  }
  return false;
}

// The names the site rows know; only these need the host, so most links never read it.
bool mayBeSiteSpecific(std::string_view lowered) {
  return lowered == "si" || lowered == "feature" || lowered == "pp" || lowered == "ref_src";
}

bool isGenerallyTracking(std::string_view lowered) {
  if (names().contains(lowered)) return true;
  for (std::string_view prefix : kPrefixes)
    if (lowered.starts_with(prefix)) return true;
  return false;
}

// "+" as a space, then percent-escapes undone; the name as written when an escape is malformed.
std::string decodedName(std::string_view name) {
  if (name.find_first_of("+%") == std::string_view::npos) return std::string(name);
  std::string spaced(name);
  for (char& c : spaced)
    if (c == '+') c = ' ';
  auto decoded = PercentEncoding::decode(spaced);
  return decoded ? std::move(*decoded) : std::string(name);
}

}  // namespace

bool isTracking(std::string_view name, std::string_view host) {
  const std::string lowered = Text::lowercased(name);
  return isGenerallyTracking(lowered) || isSiteSpecific(lowered, host);
}

Cleaned clean(const URL& url) {
  const std::string& text = url.absoluteString();
  const std::size_t question = text.find('?');
  if (question == std::string::npos) return {url, {}};
  const std::size_t hash = text.find('#', question);
  const std::size_t queryEnd = hash == std::string::npos ? text.size() : hash;
  const std::string_view query =
      std::string_view(text).substr(question + 1, queryEnd - question - 1);

  std::optional<std::string> host;  // lower-cased, read only when a site row may apply
  std::vector<std::string> removed;
  std::vector<std::string_view> kept;
  for (std::string_view piece : Text::split(query, '&')) {
    const std::string_view rawName = piece.substr(0, piece.find('='));
    std::string name = decodedName(rawName);
    bool tracking = false;
    if (!name.empty()) {
      const std::string lowered = Text::lowercased(name);
      tracking = isGenerallyTracking(lowered);
      if (!tracking && mayBeSiteSpecific(lowered)) {
        if (!host) host = Text::lowercased(url.host().value_or(""));
        tracking = isSiteSpecific(lowered, *host);
      }
    }
    if (tracking) {
      removed.push_back(std::move(name));
    } else {
      kept.push_back(piece);
    }
  }
  if (removed.empty()) return {url, {}};

  std::string rebuilt = text.substr(0, question);
  bool first = true;
  for (std::string_view piece : kept) {
    if (piece.empty()) continue;
    rebuilt += first ? '?' : '&';
    rebuilt += piece;
    first = false;
  }
  if (hash != std::string::npos) rebuilt.append(text, hash);
  auto cleaned = URL::parse(rebuilt);
  // A link that no longer parses keeps its parameters; reporting them removed would claim a
  // cleaning that did not happen.
  if (!cleaned) return {url, {}};
  return {std::move(*cleaned), std::move(removed)};
}

}  // namespace linkferry::TrackingParameters
