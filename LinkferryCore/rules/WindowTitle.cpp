#include "rules/WindowTitle.h"

#include <array>
#include <vector>

#include "foundation/Regex.h"
#include "foundation/Text.h"
#include "rules/RuleAuthoring.h"

namespace linkferry::WindowTitle {
namespace {

// A fixed pattern, compiled once by the caller's static and never destroyed.
const Regex& compiledOnce(const char* pattern) { return *new Regex(*Regex::compile(pattern)); }

std::vector<std::string_view> splitAt(std::string_view text, std::string_view separator) {
  std::vector<std::string_view> parts;
  for (;;) {
    const auto at = text.find(separator);
    if (at == std::string_view::npos) break;
    parts.push_back(text.substr(0, at));
    text.remove_prefix(at + separator.size());
  }
  parts.push_back(text);
  return parts;
}

std::string_view blanksTrimmed(std::string_view text) {
  return Text::trimmed(text, Text::TrimSet::whitespace);
}

// The title without `ending`, when it ends with it and has more before it.
std::optional<std::string_view> before(std::string_view title, std::string_view ending) {
  if (title.size() <= ending.size() || !Text::endsWith(title, ending)) return std::nullopt;
  return title.substr(0, title.size() - ending.size());
}

std::optional<Derived> labelled(std::string_view label, std::string_view prefix,
                                std::string_view suffix) {
  if (label.empty()) return std::nullopt;
  return Derived{.pattern = std::string(prefix) + RuleAuthoring::escapeRegex(label) +
                            std::string(suffix),
                 .label = std::string(label)};
}

std::optional<Derived> discord(std::string_view title) {
  const auto rest = before(title, " - Discord");
  if (!rest) return std::nullopt;
  std::string label(splitAt(*rest, " | ").back());
  static const Regex& unreadCounter = compiledOnce(R"(^\(\d+\)\s*)");
  if (auto counter = unreadCounter.firstMatch(label)) {
    label.erase(counter->range.begin, counter->range.end - counter->range.begin);
  }
  return labelled(blanksTrimmed(label), R"((?:^|[|)]\s*))", " - Discord$");
}

std::optional<Derived> slack(std::string_view title) {
  const auto rest = before(title, " - Slack");
  if (!rest) return std::nullopt;
  auto parts = splitAt(*rest, " - ");
  static const Regex& newItems = compiledOnce(R"(^\d+ new items?$)");
  if (parts.size() > 1 && newItems.matches(parts.back())) parts.pop_back();
  return labelled(blanksTrimmed(parts.back()), "(?:^| - )", "(?: - [^-]+)? - Slack$");
}

std::optional<Derived> teams(std::string_view title) {
  const auto rest = before(title, " | Microsoft Teams");
  if (!rest) return std::nullopt;
  const auto parts = splitAt(*rest, " | ");
  if (parts.size() <= 2) return std::nullopt;
  return labelled(blanksTrimmed(parts.back()), R"(\| )", R"( \| Microsoft Teams$)");
}

std::optional<Derived> captured(const Regex& regex, std::string_view title,
                                std::string_view prefix, std::string_view suffix) {
  const auto match = regex.firstMatch(title);
  if (!match || match->groups.empty() || !match->groups[0]) return std::nullopt;
  const Regex::Range group = *match->groups[0];
  return labelled(blanksTrimmed(title.substr(group.begin, group.end - group.begin)), prefix,
                  suffix);
}

std::optional<Derived> mail(std::string_view title) {
  static const Regex& mailbox = compiledOnce(R"(^.+? [–—-] (.+?)(?: \([^()]*\))?$)");
  return captured(mailbox, title, "[–—-] ",
                  R"((?: \([^()]*\))?$)");
}

std::optional<Derived> terminal(std::string_view title) {
  static const Regex& userAtHost = compiledOnce(R"([A-Za-z0-9._-]+@([A-Za-z0-9.-]*[A-Za-z0-9]))");
  return captured(userAtHost, title, "@",
                  "(?![A-Za-z0-9.-])");
}

// Apps whose window titles name a session as "user@host". Besides iTerm2 (every identifier that
// starts with its own), the Linux terminals by desktop identifier, since on Linux the source app
// is a desktop entry's identifier.
bool isTerminal(std::string_view app) {
  static constexpr std::array<std::string_view, 9> kLinuxTerminals = {
      "org.gnome.terminal", "org.gnome.console",  "org.kde.konsole",
      "xfce4-terminal",     "terminator",         "kitty",
      "alacritty",          "org.wezfurlong.wezterm", "debian-xterm"};
  if (Text::startsWith(app, "com.googlecode.iterm2")) return true;
  for (std::string_view terminal : kLinuxTerminals) {
    if (app == terminal) return true;
  }
  return false;
}

}  // namespace

std::optional<Derived> derive(std::string_view title, const std::optional<std::string>& app) {
  const std::string_view trimmed = Text::trimmed(title);
  if (trimmed.empty()) return std::nullopt;
  const std::string appID = app ? Text::lowercased(*app) : std::string();
  if (auto found = discord(trimmed)) return found;
  if (auto found = slack(trimmed)) return found;
  if (auto found = teams(trimmed)) return found;
  if (appID == "com.apple.mail") {
    if (auto found = mail(trimmed)) return found;
  }
  if (isTerminal(appID)) {
    if (auto found = terminal(trimmed)) return found;
  }
  return Derived{.pattern = "^" + RuleAuthoring::escapeRegex(trimmed) + "$",
                 .label = std::string(trimmed)};
}

std::string display(std::string_view appName, const std::optional<std::string>& title) {
  if (title && !title->empty()) return std::string(appName) + " — " + *title;
  return std::string(appName);
}

}  // namespace linkferry::WindowTitle
