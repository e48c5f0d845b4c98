#pragma once

#include <string_view>

// Host wildcard patterns.
namespace linkferry::Glob {

// Whether `pattern` covers the whole of `text`, both taken as sequences of user-perceived
// characters: "?" is exactly one character, "*" any run of characters (none, dots included),
// every other character only itself; a "*" or "?" in the text is matched by the same character in
// the pattern before it counts as a wildcard. Case counts: callers lower-case both sides. Linear
// two-index walk that backtracks to the most recent star.
bool wildcard(std::string_view pattern, std::string_view text);

}  // namespace linkferry::Glob
