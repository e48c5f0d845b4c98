// Arbitrary bytes as a link for the content and host checks, and as text for the decoding of
// character references.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "foundation/URL.h"
#include "safety/DomainSafety.h"
#include "safety/LinkSafety.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (std::optional<linkferry::URL> url = linkferry::URL::parse(text)) {
    (void)linkferry::LinkSafety::inspectAll(*url);
  }
  (void)linkferry::LinkSafety::decodeEntities(text);
  (void)linkferry::DomainSafety::inspectHost(text);
  return 0;
}
