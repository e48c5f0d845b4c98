#include "LinkText.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <vector>

#include "foundation/DisplayText.h"
#include "foundation/Text.h"
#include "safety/ReadableLink.h"

namespace linkferry::picker {

namespace {

// The longest app name or window title shown before it is shortened.
constexpr std::size_t kMaxSourcePiece = 48;

// The characters of `text`, a percent escape ("%C3") counting as one: a cut never splits one.
std::vector<std::string_view> units(std::string_view text) {
  std::vector<std::string_view> result;
  const std::vector<std::string_view> characters = Text::characters(text);
  for (std::size_t i = 0; i < characters.size(); ++i) {
    if (characters[i] == "%" && i + 2 < characters.size() &&
        std::isxdigit(static_cast<unsigned char>(characters[i + 1][0])) &&
        std::isxdigit(static_cast<unsigned char>(characters[i + 2][0]))) {
      result.emplace_back(characters[i].data(), 3);
      i += 2;
    } else {
      result.push_back(characters[i]);
    }
  }
  return result;
}

}  // namespace

std::string shortenedInMiddle(std::string_view text, std::size_t maxCharacters) {
  maxCharacters = std::max<std::size_t>(maxCharacters, 8);
  const std::vector<std::string_view> parts = units(text);
  if (parts.size() <= maxCharacters) return std::string(text);
  const std::size_t kept = maxCharacters - 1;  // one for the ellipsis
  const std::size_t head = (kept + 1) / 2;
  std::string result;
  for (std::size_t i = 0; i < head; ++i) result += parts[i];
  result += "…";
  for (std::size_t i = parts.size() - (kept - head); i < parts.size(); ++i) result += parts[i];
  return result;
}

std::string isolated(std::string_view text, std::size_t maxCharacters) {
  return "\u2068" + DisplayText::escaped(shortenedInMiddle(text, maxCharacters)) + "\u2069";
}

std::string sourceLine(std::string_view app, const std::optional<std::string>& window) {
  std::string line = "from " + isolated(app, kMaxSourcePiece);
  if (window && !window->empty()) line += " — " + isolated(*window, kMaxSourcePiece);
  return line;
}

LinkText LinkText::of(const URL& url, std::size_t maxRest, std::size_t maxHost) {
  const ReadableLink::Pieces pieces = ReadableLink::pieces(url);
  LinkText result;
  // A long user name before "@" is shortened like the host: its end, next to the host, stays.
  result.lead = shortenedInMiddle(pieces.lead, maxHost);
  result.host = shortenedInMiddle(pieces.host, maxHost);
  result.rest = shortenedInMiddle(pieces.rest, maxRest);
  return result;
}

}  // namespace linkferry::picker
