// Arbitrary links through RedirectUnwrapper::unwrap, and arbitrary text through its helpers.
// Besides not crashing: unwrapping ends within the depth limit, a link that is no wrapper comes
// back unchanged, and every destination is an http or https link with a host.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "foundation/Text.h"
#include "foundation/URL.h"
#include "preparation/RedirectUnwrapper.h"
#include "FuzzCheck.h"

namespace {

bool isWebLink(const linkferry::URL& url) {
  const auto scheme = linkferry::Text::asciiLowercased(url.scheme().value_or(""));
  return (scheme == "http" || scheme == "https") && url.host() && !url.host()->empty();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace linkferry;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)RedirectUnwrapper::isGoogle(text);
  (void)RedirectUnwrapper::decodeBing(text);
  if (const auto destination = RedirectUnwrapper::httpURL(text))
    FUZZ_CHECK(isWebLink(*destination));

  const auto url = URL::parse(text);
  if (!url) return 0;
  const auto result = RedirectUnwrapper::unwrap(*url);
  FUZZ_CHECK(result.steps.size() <= RedirectUnwrapper::maxDepth);
  if (result.steps.empty()) {
    FUZZ_CHECK(result.url == *url);
  } else {
    FUZZ_CHECK(isWebLink(result.url));
  }
  return 0;
}
