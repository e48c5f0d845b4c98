#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/URL.h"

namespace linkferry::picker {

// A link as the picker shows it (ReadableLink: an international host in its own letters unless
// they deceive, escapes of characters beyond ASCII decoded): the host stands out between the
// dimmed scheme and the rest, and a long host or rest is shortened in its middle so both its
// start and its end stay readable.
struct LinkText {
  std::string lead;  // "https://", with any "user@" (a host hides behind it in deceptive links),
                     // at most `maxHost` characters
  std::string host;  // ReadableLink::Host::shown, at most `maxHost` characters; empty for a link
                     // without one
  std::string rest;  // ":port", path, query and fragment, at most `maxRest` characters

  // The longest host shown whole: DNS allows 253 bytes, but a window as wide as that text
  // would already leave the screen.
  static constexpr std::size_t kMaxHost = 64;

  // The lead, the host and the rest keep their first and last characters around a "…" when they
  // are longer than `maxHost`, `maxHost` and `maxRest` characters (at least 8 are kept of each).
  static LinkText of(const URL& url, std::size_t maxRest, std::size_t maxHost = kMaxHost);

  bool operator==(const LinkText&) const = default;
};

// `text` shortened to at most `maxCharacters` characters by a "…" in its middle; a percent
// escape counts as one character and is never cut.
std::string shortenedInMiddle(std::string_view text, std::size_t maxCharacters);

// Outside text (a host, a path, a window title, an app name) as one piece of a line the window
// shows: shortened in its middle to `maxCharacters`, its controls written as visible escapes
// (DisplayText::escaped) and the whole between U+2068 FIRST STRONG ISOLATE and U+2069 POP
// DIRECTIONAL ISOLATE, so that its direction neither takes from nor gives to the text around it.
std::string isolated(std::string_view text, std::size_t maxCharacters);

// The line that says where the click came from: "from <app>", then " — <window title>" when the
// title is known and not empty, each an isolated piece.
std::string sourceLine(std::string_view app, const std::optional<std::string>& window);

}  // namespace linkferry::picker
