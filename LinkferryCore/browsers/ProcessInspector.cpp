#include "browsers/ProcessInspector.h"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "foundation/Files.h"
#include "foundation/Text.h"

namespace linkferry::ProcessInspector {

std::optional<std::vector<std::string>> arguments(int pid) {
  if (pid <= 0) return std::nullopt;
  std::ifstream file("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
  if (!file) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) return std::nullopt;
  return parseProcCmdline(bytes);
}

std::optional<std::vector<std::string>> parseProcArgs2(std::string_view bytes) {
  if (bytes.size() < 4) return std::nullopt;
  std::int32_t count = 0;
  std::memcpy(&count, bytes.data(), sizeof count);
  if (count < 0) return std::nullopt;
  std::size_t position = 4;
  // The executable path, then the NUL bytes that pad it.
  while (position < bytes.size() && bytes[position] != '\0') ++position;
  while (position < bytes.size() && bytes[position] == '\0') ++position;

  std::vector<std::string> result;
  while (result.size() < static_cast<std::size_t>(count) && position < bytes.size()) {
    const std::size_t end = bytes.find('\0', position);
    const std::size_t stop = end == std::string_view::npos ? bytes.size() : end;
    result.push_back(Text::repairedUTF8(bytes.substr(position, stop - position)));
    position = stop + 1;
  }
  if (result.size() != static_cast<std::size_t>(count)) return std::nullopt;
  return result;
}

std::optional<std::vector<std::string>> parseProcCmdline(std::string_view bytes) {
  if (bytes.empty()) return std::nullopt;
  // Every argument is NUL-terminated; a process that rewrote its area may lack the last NUL.
  if (bytes.back() == '\0') bytes.remove_suffix(1);
  std::vector<std::string> result;
  for (std::string_view argument : Text::split(bytes, '\0')) {
    result.push_back(Text::repairedUTF8(argument));
  }
  return result;
}

std::optional<std::string> userDataDir(const std::vector<std::string>& arguments) {
  constexpr std::string_view kFlag = "--user-data-dir";
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (Text::startsWith(argument, "--user-data-dir=")) {
      return expand(std::string_view(argument).substr(kFlag.size() + 1));
    }
    if (argument == kFlag) {
      if (i + 1 < arguments.size()) return expand(arguments[i + 1]);
      return std::nullopt;
    }
  }
  return std::nullopt;
}

ProfileArgument profileArgument(const std::vector<std::string>& arguments) {
  // Skips the program name; the value is "=VALUE" or the next argument.
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const std::size_t equals = argument.find('=');
    const std::string flag = Text::asciiLowercased(argument.substr(0, equals));
    auto value = [&]() -> std::optional<std::string> {
      if (equals != std::string::npos) return argument.substr(equals + 1);
      if (i + 1 < arguments.size() && !Text::startsWith(arguments[i + 1], "-")) {
        return arguments[i + 1];
      }
      return std::nullopt;
    };
    if (flag == "-profile" || flag == "--profile") {
      auto folder = value();
      if (folder && !folder->empty()) return ProfileArgument{expand(*folder), std::nullopt};
      return {};
    }
    if (flag == "-p" || flag == "--p" || flag == "--profile-directory") {
      auto name = value();
      if (name && !name->empty()) return ProfileArgument{std::nullopt, *name};
      return {};
    }
  }
  return {};
}

std::string expand(std::string_view path) {
  std::string expanded =
      path.empty() ? std::string() : Files::expandTilde(path, Files::home()).string();
  if (expanded.empty()) return expanded;
  std::string normal = std::filesystem::path(expanded).lexically_normal().string();
  while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
  return normal;
}

}  // namespace linkferry::ProcessInspector
