#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "foundation/Dates.h"
#include "foundation/Json.h"
#include "signals/DomainSignals.h"
#include "signals/SourceIssue.h"

namespace linkferry {

// Sessions and recent history per site, condensed from every browser profile's databases. Sites
// are keyed by their site key (PublicSuffixList::siteKey: the registrable domain in ASCII form,
// lower-cased), so "bücher.de" and "xn--bcher-kva.de" are one entry. An immutable value once built;
// share it as std::shared_ptr<const SignalIndex>.
struct SignalIndex {
  std::unordered_map<std::string, DomainSignals> domains;
  Date builtAt;
  std::vector<SourceIssue> issues;  // in the order they arose

  // No domains, no issues, built at the distant past (0001-01-01 UTC), so any real build is newer.
  static SignalIndex empty();
  static constexpr double kDistantPast = -62135596800.0;

  // The entry for exactly this registrable domain, given in either form ("bücher.de" finds
  // "xn--bcher-kva.de"); a host with more labels ("www.example.com") finds nothing: callers pass
  // the registrable domain (best its site key).
  std::optional<DomainSignals> signals(std::string_view registrableDomain) const;

  // {"builtAt", "domains": {domain: {"sessions": [{"target", "level"}], "history": [{"target",
  // "lastVisit", "visits"}]}}, "issues": [{"target", "source", "message"}]}, dates in RFC 3339
  // UTC. Targets within a domain are ordered by their description, so the output is stable.
  JsonValue toJson() const;
  // The reverse of toJson (dates to the second). Throws JsonError naming the key path.
  static SignalIndex fromJson(const JsonReader& json);

  bool operator==(const SignalIndex&) const = default;
};

}  // namespace linkferry
