// DesktopExec::arguments on any bytes: the Exec value of a desktop file.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "browsers/DesktopExec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view exec(reinterpret_cast<const char*>(data), size);
  auto arguments = linkferry::DesktopExec::arguments(exec);
  std::size_t total = 0;
  for (const auto& argument : arguments) {
    // A marker never survives as a whole argument ("%%u" rightly becomes a literal "%u").
    if (argument == "@@u" || argument == "--file-forwarding") __builtin_trap();
    total += argument.size();
  }
  if (total > size) __builtin_trap();
  return 0;
}
