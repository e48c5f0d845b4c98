#pragma once

#include <optional>
#include <string>

#include "ClickOutcome.h"

namespace linkferry {

// The one desktop notification a click nobody watches gets when something went differently from
// what the user set up: a launch that failed, a choice that was not remembered, a rule passed
// over because its browser is missing, a container the link opened without, a decision log that
// could not be written. Several at once make one notice: its summary names the most important,
// its body lists them all under the link.
namespace ClickNotice {

struct Notice {
  std::string summary;
  std::string body;  // lines; outside text in it is escaped for display (DisplayText)
  bool operator==(const Notice&) const = default;
};

// The notice for `outcome`; nothing when all went as set up, or when the outcome still waits for
// a choice (the picker says it then). `lateFailure`: why a launch failed after the click had been
// answered as opened, which its outcome does not show.
std::optional<Notice> of(const ClickOutcome& outcome,
                         const std::optional<std::string>& lateFailure = std::nullopt);

// The notice as one line, for standard error where a terminal shows it: its problems joined
// with "; ", the link left out.
std::string line(const Notice& notice);

}  // namespace ClickNotice
}  // namespace linkferry
