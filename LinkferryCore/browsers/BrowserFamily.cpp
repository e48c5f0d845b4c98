#include "browsers/BrowserFamily.h"

#include <string>

namespace linkferry {

std::string_view toString(BrowserFamily family) noexcept {
  switch (family) {
    case BrowserFamily::chromium:
      return "chromium";
    case BrowserFamily::firefox:
      return "firefox";
    case BrowserFamily::safari:
      return "safari";
    case BrowserFamily::other:
      return "other";
  }
  return "other";
}

std::optional<BrowserFamily> browserFamilyFromString(std::string_view raw) noexcept {
  for (BrowserFamily family : kAllBrowserFamilies) {
    if (toString(family) == raw) return family;
  }
  return std::nullopt;
}

bool supportsPrivateMode(BrowserFamily family) noexcept {
  switch (family) {
    case BrowserFamily::chromium:
    case BrowserFamily::firefox:
      return true;
    case BrowserFamily::safari:
    case BrowserFamily::other:
      return false;
  }
  return false;
}

JsonValue browserFamilyToJson(BrowserFamily family) {
  return std::string(toString(family));
}

BrowserFamily browserFamilyFromJson(const JsonReader& json) {
  std::string raw = json.string();
  if (auto family = browserFamilyFromString(raw)) return *family;
  json.fail("unknown browser family \"" + raw +
            "\", expected one of \"chromium\", \"firefox\", \"safari\", \"other\"");
}

}  // namespace linkferry
