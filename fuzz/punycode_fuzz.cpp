// Arbitrary bytes as a Punycode label, and as a host in both directions. Whatever decodes must
// encode back to a text that decodes to the same result.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "safety/Punycode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (std::optional<std::string> decoded = linkferry::Punycode::decode(text)) {
    if (std::optional<std::string> encoded = linkferry::Punycode::encode(*decoded)) {
      if (linkferry::Punycode::decode(*encoded) != decoded) __builtin_trap();
    }
  }
  (void)linkferry::Punycode::toUnicodeHost(text);
  (void)linkferry::Punycode::toASCIIHost(text);
  return 0;
}
