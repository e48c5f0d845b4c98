#pragma once

#include <cstddef>
#include <string>

#include "foundation/URL.h"

namespace linkferry::picker {

// A link as the picker shows it: the host stands out between the dimmed scheme and the rest, and
// a long rest is shortened in its middle so both its start and its end stay readable.
struct LinkText {
  std::string lead;  // "https://", with any "user@" (a host hides behind it in deceptive links)
  std::string host;  // the host as the link writes it; empty for a link without one
  std::string rest;  // ":port", path, query and fragment, at most `maxRest` characters

  // The rest keeps its first and last characters around a "…" when it is longer than `maxRest`
  // characters (at least 8 are kept).
  static LinkText of(const URL& url, std::size_t maxRest);

  bool operator==(const LinkText&) const = default;
};

// `text` shortened to at most `maxCharacters` characters by a "…" in its middle; a percent
// escape counts as one character and is never cut.
std::string shortenedInMiddle(const std::string& text, std::size_t maxCharacters);

}  // namespace linkferry::picker
