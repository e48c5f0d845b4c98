#include "browsers/DesktopEntry.h"

#include <algorithm>
#include <map>
#include <utility>

#include "browsers/DesktopExec.h"
#include "browsers/TextLines.h"
#include "foundation/Text.h"

namespace linkferry {

std::optional<DesktopEntry> DesktopEntry::parse(std::string_view text, std::string id,
                                                std::string path) {
  std::map<std::string, std::string, std::less<>> keys;
  bool inMainGroup = false;
  forEachLine(text, [&](std::string_view rawLine) {
    std::string_view line = Text::trimmed(rawLine, Text::TrimSet::spacesAndTabs);
    if (line.empty() || line.front() == '#') return;
    if (line.front() == '[') {
      inMainGroup = line == "[Desktop Entry]";
      return;
    }
    if (!inMainGroup) return;
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) return;
    std::string_view key = Text::trimmed(line.substr(0, equals), Text::TrimSet::spacesAndTabs);
    if (key.find('[') != std::string_view::npos) return;
    std::string_view value = Text::trimmed(line.substr(equals + 1), Text::TrimSet::spacesAndTabs);
    keys.emplace(std::string(key), std::string(value));  // keeps the first occurrence
  });

  auto value = [&keys](std::string_view key) -> const std::string* {
    auto found = keys.find(key);
    return found == keys.end() ? nullptr : &found->second;
  };
  if (const std::string* type = value("Type"); type && *type != "Application") return std::nullopt;
  const std::string* name = value("Name");
  const std::string* exec = value("Exec");
  if (!name || !exec) return std::nullopt;
  std::vector<std::string> arguments = DesktopExec::arguments(*exec);
  // An empty program name cannot be started; such an entry is as unusable as one without Exec.
  if (arguments.empty() || arguments.front().empty()) return std::nullopt;

  DesktopEntry entry;
  entry.id = std::move(id);
  entry.name = *name;
  entry.exec = std::move(arguments);
  if (const std::string* mimeType = value("MimeType")) {
    for (std::string_view part : Text::split(*mimeType, ';')) {
      std::string_view trimmed = Text::trimmed(part, Text::TrimSet::spacesAndTabs);
      if (!trimmed.empty()) entry.mimeTypes.emplace_back(trimmed);
    }
  }
  const std::string* noDisplay = value("NoDisplay");
  const std::string* hidden = value("Hidden");
  entry.hidden = (noDisplay && *noDisplay == "true") || (hidden && *hidden == "true");
  entry.path = std::move(path);
  return entry;
}

bool DesktopEntry::handlesWebLinks() const {
  return std::any_of(mimeTypes.begin(), mimeTypes.end(), [](const std::string& type) {
    return type == "x-scheme-handler/https" || type == "x-scheme-handler/http";
  });
}

}  // namespace linkferry
