#pragma once

#include <optional>
#include <span>
#include <string_view>

// Files of the repository's resources/ folder, compiled into the program at build time.
namespace linkferry::Resources {

struct Entry {
  std::string_view name;   // path relative to resources/, such as "public_suffix_list.dat"
  std::string_view bytes;  // the whole file
};

// Every embedded file, sorted by name. Never fails.
std::span<const Entry> all() noexcept;

// The bytes of one embedded file, or nothing when no such file was embedded.
std::optional<std::string_view> find(std::string_view name) noexcept;

}  // namespace linkferry::Resources
