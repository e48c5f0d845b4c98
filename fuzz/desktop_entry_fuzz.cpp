// DesktopEntry::parse on any bytes: desktop files are written by any package or user.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "browsers/DesktopEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto entry = linkferry::DesktopEntry::parse(text, "fuzz", "/fuzz.desktop");
  // A parsed entry always has a program to start.
  if (entry && (entry->exec.empty() || entry->exec.front().empty())) __builtin_trap();
  if (entry) (void)entry->handlesWebLinks();
  return 0;
}
