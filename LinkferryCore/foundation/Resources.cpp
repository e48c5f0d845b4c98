#include "foundation/Resources.h"

namespace linkferry::Resources {

std::optional<std::string_view> find(std::string_view name) noexcept {
  for (const Entry& entry : all()) {
    if (entry.name == name) return entry.bytes;
  }
  return std::nullopt;
}

}  // namespace linkferry::Resources
