#pragma once
// For fuzz targets whose parser reads its files itself: a folder of this process, and the input
// split at its first NUL byte into the contents of two files.
#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <utility>

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

// Replaces the file's contents with `bytes`, creating its folders. Written plainly, without
// Files::writeAtomically's fsync: the folder is thrown away, and a sync per input would cost the
// fuzzer most of its executions. Aborts when the file cannot be written, since the target would
// then test nothing.
inline void put(const std::filesystem::path& relative, std::string_view bytes) {
  const std::filesystem::path path = folder() / relative;
  std::error_code error;
  std::filesystem::create_directories(path.parent_path(), error);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) std::abort();
}

}  // namespace fuzzing
