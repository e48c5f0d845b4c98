#pragma once
// For fuzz targets whose parser reads its files itself: a folder of this process, and the input
// split at its first NUL byte into the contents of two files.
#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

#include "foundation/Files.h"

namespace fuzzing {

inline const std::filesystem::path& folder() {
  static const std::filesystem::path& path = *new std::filesystem::path([] {
    std::string pattern = (std::filesystem::temp_directory_path() / "linkferry-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    return pattern;
  }());
  static const bool removedAtExit = std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(folder(), ignored);
  }) == 0;
  (void)removedAtExit;
  return path;
}

inline std::pair<std::string_view, std::string_view> split(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto nul = bytes.find('\0');
  if (nul == std::string_view::npos) return {bytes, {}};
  return {bytes.substr(0, nul), bytes.substr(nul + 1)};
}

inline void put(const std::filesystem::path& relative, std::string_view bytes) {
  linkferry::Files::writeAtomically(folder() / relative, bytes);
}

}  // namespace fuzzing
