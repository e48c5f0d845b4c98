#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "foundation/URL.h"

// Removal of tracking query parameters ("utm_source", "fbclid", ...) from links. The tables are
// built once, on first use; every operation is pure and callable from any thread.
namespace linkferry::TrackingParameters {

struct Cleaned {
  URL url;
  // The names removed, in query order, decoded ("+" as a space, percent-escapes undone) but in
  // their own letter case.
  std::vector<std::string> removed;
  bool operator==(const Cleaned&) const = default;
};

// The link without its tracking parameters. Works on the link's text: the query is split at every
// "&" and each piece is judged by its decoded, lower-cased name; everything else (order, encoding,
// the fragment) is kept byte for byte. When nothing is removed, or the link without them would not
// be a link any more, the same link comes back with no names. Never fails.
Cleaned clean(const URL& url);

// Whether `name` counts as tracking on `host`: its lower-cased form is one of the known names,
// starts with a known prefix, or is one of the names known for that site. `host` is compared as
// passed (callers lower-case it).
bool isTracking(std::string_view name, std::string_view host);

}  // namespace linkferry::TrackingParameters
