#include "LinkText.h"

#include <algorithm>

#include "foundation/Text.h"

namespace linkferry::picker {

std::string shortenedInMiddle(const std::string& text, std::size_t maxCharacters) {
  maxCharacters = std::max<std::size_t>(maxCharacters, 8);
  if (Text::characterCount(text) <= maxCharacters) return text;
  const std::size_t kept = maxCharacters - 1;  // one for the ellipsis
  const std::size_t head = (kept + 1) / 2;
  return std::string(Text::prefix(text, head)) + "…" + std::string(Text::suffix(text, kept - head));
}

LinkText LinkText::of(const URL& url, std::size_t maxRest) {
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
  result.lead = text.substr(0, hostStart + hostBegin);
  result.host = std::string(authorityText.substr(hostBegin, hostEnd - hostBegin));
  result.rest = shortenedInMiddle(text.substr(hostStart + hostEnd), maxRest);
  return result;
}

}  // namespace linkferry::picker
