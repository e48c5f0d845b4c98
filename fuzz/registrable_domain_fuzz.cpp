// Arbitrary bytes as a host for the registrable domain, with the list compiled into the program.
// A registrable domain of an ASCII host is always one of its suffixes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "safety/PublicSuffixList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view host(reinterpret_cast<const char*>(data), size);
  const linkferry::PublicSuffixList& list = linkferry::PublicSuffixList::shared();
  std::optional<std::string> domain = list.registrableDomain(host);
  (void)linkferry::PublicSuffixList::isIPAddress(host);

  bool ascii = true;
  std::string lowered;
  for (char c : host) {
    ascii = ascii && (static_cast<unsigned char>(c) < 0x80);
    lowered += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
  }
  if (domain && ascii) {
    if (domain->empty() || lowered.find(*domain) == std::string::npos) __builtin_trap();
  }
  return 0;
}
