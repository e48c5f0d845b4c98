#include "MimeAppsList.h"

#include <system_error>

#include "foundation/Files.h"
#include "foundation/Text.h"

namespace linkferry::MimeAppsList {
namespace {

namespace fs = std::filesystem;

std::vector<std::string_view> lines(std::string_view text) {
  std::vector<std::string_view> result = Text::split(text, '\n');
  if (!result.empty() && result.back().empty()) result.pop_back();
  return result;
}

std::optional<std::string_view> groupName(std::string_view line) {
  line = Text::trimmed(line, Text::TrimSet::spacesAndTabs);
  if (line.size() < 2 || line.front() != '[' || line.back() != ']') return std::nullopt;
  return line.substr(1, line.size() - 2);
}

// The value when `line` is "key=value" (spaces around "=" allowed, as readers accept them).
std::optional<std::string_view> valueOf(std::string_view line, std::string_view key) {
  const auto equals = line.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  if (Text::trimmed(line.substr(0, equals), Text::TrimSet::spacesAndTabs) != key) {
    return std::nullopt;
  }
  return Text::trimmed(line.substr(equals + 1), Text::TrimSet::spacesAndTabs);
}

std::optional<std::string> variable(const Environment& environment, const char* name) {
  auto found = environment.find(name);
  if (found == environment.end() || found->second.empty() || found->second.front() != '/') {
    return std::nullopt;
  }
  return found->second;
}

std::vector<fs::path> folders(const Environment& environment, const char* name,
                              std::string_view fallback) {
  std::string list(fallback);
  if (auto found = environment.find(name); found != environment.end() && !found->second.empty()) {
    list = found->second;
  }
  std::vector<fs::path> result;
  for (std::string_view folder : Text::split(list, ':')) {
    if (!folder.empty() && folder.front() == '/') result.emplace_back(folder);
  }
  return result;
}

fs::path configHome(const fs::path& home, const Environment& environment) {
  if (auto config = variable(environment, "XDG_CONFIG_HOME")) return *config;
  return home / ".config";
}

fs::path dataHome(const fs::path& home, const Environment& environment) {
  if (auto data = variable(environment, "XDG_DATA_HOME")) return *data;
  return home / ".local" / "share";
}

}  // namespace

std::optional<std::string> defaultValue(std::string_view text, std::string_view key) {
  bool inGroup = false;
  for (std::string_view line : lines(text)) {
    if (auto group = groupName(line)) {
      inGroup = *group == kDefaultGroup;
      continue;
    }
    if (!inGroup) continue;
    if (auto value = valueOf(line, key)) return std::string(*value);
  }
  return std::nullopt;
}

std::string settingDefault(std::string_view text, std::string_view key,
                           const std::optional<std::string>& value) {
  std::string result;
  const std::string replacement = value ? std::string(key) + "=" + *value + "\n" : std::string();
  bool inGroup = false;
  bool sawGroup = false;
  bool done = false;
  auto closeGroup = [&] {
    // The key was not in the group: add it at the group's end, before any blank lines.
    if (inGroup && !done) {
      std::size_t end = result.size();
      while (end >= 2 && result[end - 1] == '\n' && result[end - 2] == '\n') --end;
      result.insert(end, replacement);
      done = true;
    }
  };
  for (std::string_view line : lines(text)) {
    if (auto group = groupName(line)) {
      closeGroup();
      inGroup = *group == kDefaultGroup;
      sawGroup |= inGroup;
    } else if (inGroup && valueOf(line, key)) {
      if (!done) result += replacement;
      done = true;
      continue;
    }
    result += line;
    result += '\n';
  }
  closeGroup();
  if (!sawGroup && value) {
    if (!result.empty() && !Text::endsWith(result, "\n\n")) result += '\n';
    result += "[" + std::string(kDefaultGroup) + "]\n" + replacement;
  }
  return result;
}

std::vector<std::string> entries(std::string_view value) {
  std::vector<std::string> result;
  for (std::string_view part : Text::split(value, ';')) {
    part = Text::trimmed(part, Text::TrimSet::spacesAndTabs);
    if (!part.empty()) result.emplace_back(part);
  }
  return result;
}

fs::path userList(const fs::path& home, const Environment& environment) {
  return configHome(home, environment) / "mimeapps.list";
}

std::vector<fs::path> searchOrder(const fs::path& home, const Environment& environment,
                                  const std::optional<std::string>& desktop) {
  std::vector<fs::path> bases = {configHome(home, environment)};
  for (auto& folder : folders(environment, "XDG_CONFIG_DIRS", "/etc/xdg")) bases.push_back(folder);
  bases.push_back(dataHome(home, environment) / "applications");
  for (auto& folder : folders(environment, "XDG_DATA_DIRS", "/usr/local/share:/usr/share")) {
    bases.push_back(folder / "applications");
  }
  std::vector<fs::path> result;
  for (const fs::path& base : bases) {
    if (desktop) result.push_back(base / (Text::lowercased(*desktop) + "-mimeapps.list"));
    result.push_back(base / "mimeapps.list");
  }
  return result;
}

std::optional<Found> effectiveDefault(const fs::path& home, const Environment& environment,
                                      const std::optional<std::string>& desktop,
                                      std::string_view key) {
  for (const fs::path& file : searchOrder(home, environment, desktop)) {
    std::optional<std::string> text;
    try {
      text = Files::readIfExists(file);
    } catch (const std::system_error&) {
      continue;
    }
    if (!text) continue;
    if (auto value = defaultValue(*text, key)) return Found{file, *value};
  }
  return std::nullopt;
}

}  // namespace linkferry::MimeAppsList
