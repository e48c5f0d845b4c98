#include "rules/RememberScope.h"

#include "rules/WindowTitle.h"

namespace linkferry {

std::optional<AppWindowScope> AppWindowScope::make(const std::optional<std::string>& app,
                                                   std::string appName,
                                                   const std::optional<std::string>& title) {
  if (!app || app->empty() || !title) return std::nullopt;
  auto derived = WindowTitle::derive(*title, app);
  if (!derived) return std::nullopt;
  return AppWindowScope{.app = *app,
                        .appName = std::move(appName),
                        .pattern = std::move(derived->pattern),
                        .label = std::move(derived->label)};
}

Matcher AppWindowScope::matcher() const {
  return Matcher::all({Matcher::sourceApp(app), Matcher::sourceWindow(pattern)});
}

std::string AppWindowScope::description() const { return appName + " · " + label; }

}  // namespace linkferry
