#include "browsers/DesktopExec.h"

#include <algorithm>
#include <array>

#include "foundation/Text.h"

namespace linkferry::DesktopExec {
namespace {

constexpr std::array<std::string_view, 17> kRemoved = {
    "%f",
    "%F",
    "%u",
    "%U",
    "%d",
    "%D",
    "%n",
    "%N",
    "%i",
    "%c",
    "%k",
    "%v",
    "%m",
    "@@",
    "@@u",
    "@@f",
    "--file-forwarding",
};

}  // namespace

std::vector<std::string> arguments(std::string_view exec) {
  std::vector<std::string> split;
  std::string current;
  bool inArgument = false;  // `current` holds an argument, possibly empty (from "")
  bool quoted = false;
  for (std::size_t i = 0; i < exec.size(); ++i) {
    const char c = exec[i];
    if (quoted) {
      if (c == '\\') {
        if (++i == exec.size()) return {};
        current += exec[i];
      } else if (c == '"') {
        quoted = false;
      } else {
        current += c;
      }
    } else if (c == ' ' || c == '\t') {
      if (inArgument) split.push_back(std::move(current));
      current.clear();
      inArgument = false;
    } else if (c == '"') {
      quoted = true;
      inArgument = true;
    } else {
      current += c;
      inArgument = true;
    }
  }
  if (quoted) return {};
  if (inArgument) split.push_back(std::move(current));

  std::vector<std::string> result;
  result.reserve(split.size());
  for (std::string& argument : split) {
    if (std::find(kRemoved.begin(), kRemoved.end(), argument) != kRemoved.end()) continue;
    result.push_back(Text::replacingAll(argument, "%%", "%"));
  }
  return result;
}

std::string resolve(const std::string& program, const std::optional<std::string>& searchPath,
                    const ExecutablePredicate& isExecutable) {
  if (Text::startsWith(program, "/")) return program;
  const std::string path = searchPath.value_or(kDefaultSearchPath);
  for (std::string_view folder : Text::split(path, ':')) {
    if (folder.empty()) continue;
    std::string candidate = std::string(folder) + "/" + program;
    if (isExecutable && isExecutable(candidate)) return candidate;
  }
  return program;
}

}  // namespace linkferry::DesktopExec
