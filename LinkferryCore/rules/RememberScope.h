#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "rules/Matcher.h"

namespace linkferry {

// Links clicked in one app, in windows whose title matches a pattern derived from the title of
// the window the user clicked in (the same Slack workspace, Discord server, mailbox...).
struct AppWindowScope {
  std::string app;      // identifier of the source app
  std::string appName;  // its display name
  std::string pattern;  // regular expression searched in the window title
  std::string label;    // what the pattern recognises, e.g. the workspace

  // The scope for a click in `app` in a window titled `title`: nothing when the app is absent or
  // empty, the title absent, or WindowTitle::derive finds nothing in the title.
  static std::optional<AppWindowScope> make(const std::optional<std::string>& app,
                                            std::string appName,
                                            const std::optional<std::string>& title);

  // all([sourceApp(app), sourceWindow(pattern)]).
  Matcher matcher() const;
  // appName + " · " + label.
  std::string description() const;

  bool operator==(const AppWindowScope&) const = default;
};

// What a remembered picker choice covers, a closed set of cases.
struct RememberScope {
  // Links whose whole text matches the regular expression.
  struct Pattern {
    std::string expression;
    bool operator==(const Pattern&) const = default;
  };
  // Links clicked in that app window.
  struct AppWindow {
    AppWindowScope scope;
    bool operator==(const AppWindow&) const = default;
  };
  // This page, with any query or fragment.
  struct Page {
    bool operator==(const Page&) const = default;
  };
  // This exact host.
  struct Host {
    bool operator==(const Host&) const = default;
  };
  // This registrable domain and all its subdomains.
  struct Domain {
    bool operator==(const Domain&) const = default;
  };
  using Value = std::variant<Pattern, AppWindow, Page, Host, Domain>;

  static RememberScope pattern(std::string expression) {
    return RememberScope(Pattern{std::move(expression)});
  }
  static RememberScope appWindow(AppWindowScope scope) {
    return RememberScope(AppWindow{std::move(scope)});
  }
  static RememberScope page() { return RememberScope(Page{}); }
  static RememberScope host() { return RememberScope(Host{}); }
  static RememberScope domain() { return RememberScope(Domain{}); }

  const Value& value() const { return m_value; }
  const AppWindowScope* asAppWindow() const {
    const auto* window = std::get_if<AppWindow>(&m_value);
    return window ? &window->scope : nullptr;
  }

  bool operator==(const RememberScope&) const = default;

 private:
  template <class Case>
  explicit RememberScope(Case value) : m_value(std::move(value)) {}
  Value m_value;
};

}  // namespace linkferry
