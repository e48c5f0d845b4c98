// INI::parse on any bytes: Firefox's profiles.ini is outside input.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "browsers/INI.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto sections = linkferry::INI::parse(text);
  // Every name and value is a piece of the input, so none can be longer than it.
  for (const auto& section : sections) {
    if (section.name.size() > size) __builtin_trap();
    for (const auto& [key, value] : section.values) {
      if (key.size() + value.size() > size) __builtin_trap();
    }
  }
  return 0;
}
