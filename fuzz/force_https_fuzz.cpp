// Arbitrary links and exception lists through ForceHTTPS. The input is the exceptions, one per
// line, then a blank line, then the link. Besides not crashing: an upgrade is always an https
// link to the same host, never to a local one, and it is kept when there are no exceptions.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Text.h"
#include "foundation/URL.h"
#include "preparation/ForceHTTPS.h"
#include "FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace linkferry;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  (void)ForceHTTPS::isLocal(input);

  std::vector<std::string> exceptions;
  std::string_view link = input;
  if (auto blank = input.find("\n\n"); blank != std::string_view::npos) {
    for (std::string_view line : Text::split(input.substr(0, blank), '\n'))
      exceptions.emplace_back(line);
    link = input.substr(blank + 2);
  }
  const auto url = URL::parse(link);
  if (!url) return 0;
  const auto upgraded = ForceHTTPS::upgrade(*url, exceptions);
  if (!upgraded) return 0;
  FUZZ_CHECK(upgraded->scheme() == "https");
  FUZZ_CHECK(upgraded->host() == url->host());
  FUZZ_CHECK(!ForceHTTPS::isLocal(Text::lowercased(upgraded->host().value_or(""))));
  FUZZ_CHECK(ForceHTTPS::upgrade(*url, {}).has_value());
  return 0;
}
