// Arbitrary links through TrackingParameters::clean. Besides not crashing: a link without tracking
// parameters comes back byte for byte, every removed name counts as tracking on the link's host,
// and cleaning a cleaned link removes nothing more, unless the query is gone and a "?" in the
// fragment now comes first (a hash route's parameters are then judged like a query's).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "foundation/Text.h"
#include "foundation/URL.h"
#include "preparation/TrackingParameters.h"
#include "FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace linkferry;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto url = URL::parse(text);
  if (!url) return 0;
  const auto cleaned = TrackingParameters::clean(*url);
  if (cleaned.removed.empty()) {
    FUZZ_CHECK(cleaned.url.absoluteString() == url->absoluteString());
    return 0;
  }
  const std::string host = Text::lowercased(url->host().value_or(""));
  for (const auto& name : cleaned.removed) FUZZ_CHECK(TrackingParameters::isTracking(name, host));
  FUZZ_CHECK(cleaned.url.absoluteString().size() < url->absoluteString().size());
  const std::string& after = cleaned.url.absoluteString();
  const auto question = after.find('?');
  const auto hash = after.find('#');
  if (question == std::string::npos || hash == std::string::npos || question < hash)
    FUZZ_CHECK(TrackingParameters::clean(cleaned.url).removed.empty());
  return 0;
}
