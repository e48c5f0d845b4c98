#include "launching/OpenOptions.h"

#include <string>

namespace linkferry {

std::string_view toString(OpenIn openIn) {
  switch (openIn) {
    case OpenIn::newTab:
      return "newTab";
    case OpenIn::newWindow:
      return "newWindow";
    case OpenIn::currentTab:
      return "currentTab";
  }
  return "newTab";
}

std::optional<OpenIn> openInFromString(std::string_view text) {
  for (OpenIn candidate : allOpenInCases) {
    if (toString(candidate) == text) return candidate;
  }
  return std::nullopt;
}

OpenIn next(OpenIn openIn) {
  switch (openIn) {
    case OpenIn::newTab:
      return OpenIn::newWindow;
    case OpenIn::newWindow:
      return OpenIn::currentTab;
    case OpenIn::currentTab:
      return OpenIn::newTab;
  }
  return OpenIn::newTab;
}

OpenOptions OpenOptions::fromNewWindow(bool newWindow, bool background) {
  return OpenOptions{newWindow ? OpenIn::newWindow : OpenIn::newTab, background};
}

void OpenOptions::setNewWindow(bool newWindow) {
  if (newWindow) {
    openIn = OpenIn::newWindow;
  } else if (openIn == OpenIn::newWindow) {
    openIn = OpenIn::newTab;
  }
}

OpenOptions OpenOptions::resolve(const OpenOptions& global, std::optional<bool> ruleNewWindow,
                                 std::optional<bool> ruleBackground) {
  OpenOptions options = global;
  if (ruleNewWindow) options.openIn = *ruleNewWindow ? OpenIn::newWindow : OpenIn::newTab;
  if (ruleBackground) options.background = *ruleBackground;
  return options;
}

JsonValue OpenOptions::toJson() const {
  JsonValue json = JsonValue::object();
  json["openIn"] = std::string(toString(openIn));
  json["background"] = background;
  return json;
}

OpenOptions OpenOptions::fromJson(const JsonReader& json) {
  OpenOptions options;
  const JsonReader openInValue = json["openIn"];
  const std::string text = openInValue.string();
  auto openIn = openInFromString(text);
  if (!openIn) {
    openInValue.fail("unknown value \"" + text + "\", expected newTab, newWindow or currentTab");
  }
  options.openIn = *openIn;
  options.background = json["background"].boolean();
  return options;
}

}  // namespace linkferry
