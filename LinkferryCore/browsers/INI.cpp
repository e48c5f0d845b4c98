#include "browsers/INI.h"

#include "browsers/TextLines.h"
#include "foundation/Text.h"

namespace linkferry::INI {

std::vector<Section> parse(std::string_view text) {
  std::vector<Section> sections;
  forEachLine(text, [&sections](std::string_view rawLine) {
    std::string_view line = Text::trimmed(rawLine, Text::TrimSet::spacesAndTabs);
    if (line.empty() || line.front() == ';' || line.front() == '#') return;
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      sections.push_back(Section{std::string(line.substr(1, line.size() - 2)), {}});
      return;
    }
    if (sections.empty()) return;
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) return;
    sections.back().values[std::string(line.substr(0, equals))] =
        std::string(line.substr(equals + 1));
  });
  return sections;
}

}  // namespace linkferry::INI
