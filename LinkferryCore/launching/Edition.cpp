#include "launching/Edition.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>
#include <vector>

namespace linkferry::Edition {

namespace {

std::filesystem::path accountHome() {
  long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 4096);
  for (;;) {
    passwd entry{};
    passwd* found = nullptr;
    int error = getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found);
    if (error == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (error != 0 || found == nullptr || found->pw_dir == nullptr || *found->pw_dir == '\0') {
      return {};
    }
    return std::filesystem::path(found->pw_dir);
  }
}

}  // namespace

std::filesystem::path realHome() noexcept {
  try {
    if (auto home = accountHome(); !home.empty()) return home;
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    std::error_code error;
    auto current = std::filesystem::current_path(error);
    if (!error) return current;
  } catch (...) {
    // Only allocation can fail here; the root folder is the answer of last resort.
  }
  return "/";
}

}  // namespace linkferry::Edition
