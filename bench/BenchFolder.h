#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

// A folder of its own under the system's temporary folder for one benchmark, removed at the end.
struct BenchFolder {
  std::filesystem::path path;
  BenchFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "linkferry-bench-XXXXXX").string();
    path = ::mkdtemp(pattern.data());
  }
  ~BenchFolder() { std::filesystem::remove_all(path); }
  BenchFolder(const BenchFolder&) = delete;
  BenchFolder& operator=(const BenchFolder&) = delete;
};
