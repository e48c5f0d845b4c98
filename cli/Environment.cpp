#include "Environment.h"

#include <string_view>

extern char** environ;

namespace linkferry::cli {

std::map<std::string, std::string> processEnvironment() {
  std::map<std::string, std::string> environment;
  for (char** variable = environ; variable && *variable; ++variable) {
    std::string_view entry(*variable);
    const auto equals = entry.find('=');
    if (equals == std::string_view::npos) continue;
    environment.emplace(std::string(entry.substr(0, equals)),
                        std::string(entry.substr(equals + 1)));
  }
  return environment;
}

}  // namespace linkferry::cli
