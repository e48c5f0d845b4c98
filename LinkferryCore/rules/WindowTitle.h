#pragma once

#include <optional>
#include <string>
#include <string_view>

// Window-title patterns that recognise the same workspace, server, organisation, mailbox or host
// in later window titles of chat, mail and terminal apps, for rules that remember "links from
// this app window".
namespace linkferry::WindowTitle {

struct Derived {
  std::string pattern;  // searched case-insensitively in later titles
  std::string label;    // short text naming what the pattern recognises ("Acme", "work.test")
  bool operator==(const Derived&) const = default;
};

// The pattern for a title, trying in order the Discord form (" - Discord" titles: the server),
// the Slack form (" - Slack": the workspace), the Microsoft Teams form (" | Microsoft Teams" with
// at least three parts: the organisation), the Mail form (only for the mail app: the mailbox), the
// terminal form (only for terminal apps: the host after "user@"), else the exact title. `app` is
// the source app's identifier, compared ignoring case; absent means none. Nothing for a title
// that is empty after trimming blanks and line breaks. Pure; callable from any thread.
std::optional<Derived> derive(std::string_view title, const std::optional<std::string>& app);

// "<app name> — <title>" when the title is present and not empty, else the app name.
std::string display(std::string_view appName, const std::optional<std::string>& title);

}  // namespace linkferry::WindowTitle
