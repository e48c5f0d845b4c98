#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "browsers/BrowserCatalog.h"
#include "router/PickerRequest.h"

// The picker on a terminal, for `linkferry open` when no picker window is at hand: the candidates
// as numbered lines, and the user's typed answer.
namespace linkferry::TerminalPicker {

// What stands above the rows: "Open <link> in:" (the link as ReadableLink shows it), then the
// link's safety findings (a notice: "International name: bücher.de (xn--bcher-kva.de)"; danger:
// "This link looks dangerous:" and one indented line per finding), then the request's note, one
// line per line of it. Outside text is left as it is: the caller escapes each line for the
// terminal (DisplayText::escaped).
std::vector<std::string> header(const PickerRequest& request);

// One line per candidate: its number badge (PickerKeys::badge; rows after the tenth show their
// row number), its label and its reasons, e.g. " 1  Firefox — Work   history: 3 visits".
std::vector<std::string> rows(const PickerRequest& request, const BrowserCatalog& catalog);

// What the user typed.
struct Answer {
  enum class Kind { choose, cancel, invalid };
  Kind kind = Kind::invalid;
  std::size_t index = 0;     // the row chosen
  bool remember = false;     // "r": remember the choice as a rule for the link's domain
  bool privateMode = false;  // "p": open it in a private window
};

// Empty input (or only blanks) cancels. Otherwise an optional "r" or "p" then a number: the badge
// of one of the first ten rows ("0" is the tenth) or the row number of a later one. Anything
// else, or a number without a row, is invalid.
Answer parse(std::string_view text, std::size_t count);

}  // namespace linkferry::TerminalPicker
