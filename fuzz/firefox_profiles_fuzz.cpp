// Firefox's profiles.ini and a profile's containers.json on any bytes (the input before and after
// its first NUL byte), read by ProfileScanner::firefox from real files: nothing may crash, and
// every profile it returns lies in an absolute folder (never one relative to where we run).
#include <cstddef>
#include <cstdint>

#include "FuzzFiles.h"
#include "browsers/ProfileScanner.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto [ini, containers] = fuzzing::split(data, size);
  fuzzing::put("firefox/profiles.ini", ini);
  fuzzing::put("firefox/profile/containers.json", containers);
  for (const auto& profile : linkferry::ProfileScanner::firefox(fuzzing::folder() / "firefox")) {
    if (!profile.path.is_absolute()) __builtin_trap();
  }
  return 0;
}
