// Chromium's Local State and the Default profile's Preferences on any bytes (the input before and
// after its first NUL byte), read by ProfileScanner::chromium from real files: nothing may crash,
// and every profile it returns names a folder directly inside the user data folder.
#include <cstddef>
#include <cstdint>

#include "FuzzFiles.h"
#include "browsers/ProfileScanner.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto [localState, preferences] = fuzzing::split(data, size);
  fuzzing::put("chromium/Local State", localState);
  fuzzing::put("chromium/Default/Preferences", preferences);
  const auto root = fuzzing::folder() / "chromium";
  for (const auto& profile : linkferry::ProfileScanner::chromium(root)) {
    if (profile.id.empty() || profile.id.find('/') != std::string::npos) __builtin_trap();
  }
  return 0;
}
