#include "LinkText.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <vector>

#include "foundation/DisplayText.h"
#include "foundation/Text.h"

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
  const std::string text = url.absoluteString();
  LinkText result;
  const std::size_t authority = text.find("://");
  if (authority == std::string::npos || !url.host()) {
    result.rest = shortenedInMiddle(text, maxRest);
    return result;
  }
  const std::size_t hostStart = authority + 3;
  const std::size_t authorityEnd = std::min(text.find_first_of("/?#", hostStart), text.size());
  std::string_view authorityText(text.data() + hostStart, authorityEnd - hostStart);
  // userinfo ends at the last "@" of the authority; a port follows the last ":" outside brackets.
  const std::size_t at = authorityText.rfind('@');
  const std::size_t hostBegin = at == std::string_view::npos ? 0 : at + 1;
  std::size_t hostEnd = authorityText.size();
  const std::size_t colon = authorityText.rfind(':');
  const std::size_t bracket = authorityText.rfind(']');
  if (colon != std::string_view::npos && colon >= hostBegin &&
      (bracket == std::string_view::npos || colon > bracket)) {
    hostEnd = colon;
  }
  // A long user name before "@" is shortened like the host: its end, next to the host, stays.
  result.lead = shortenedInMiddle(std::string_view(text).substr(0, hostStart + hostBegin), maxHost);
  result.host = shortenedInMiddle(authorityText.substr(hostBegin, hostEnd - hostBegin), maxHost);
  result.rest = shortenedInMiddle(text.substr(hostStart + hostEnd), maxRest);
  return result;
}

}  // namespace linkferry::picker
