#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "routing/Candidate.h"

namespace linkferry {

// What went differently from what the user set up, read from a click's trace lines: a rule
// passed over because its browser is not on this machine, a Firefox container the link opened
// without, a choice that could not be remembered. The picker shows these above its list and a
// click nobody watches tells them as a desktop notification. Stateless; callable from any thread.
namespace ClickNotes {

struct Note {
  enum class Kind { ruleSkipped, containerDropped, notRemembered };
  Kind kind = Kind::ruleSkipped;
  std::string text;  // one sentence for the user, no final full stop
  bool operator==(const Note&) const = default;
};

// Why a container target opens without its container, for the user.
inline constexpr std::string_view kContainerReason =
    "Firefox opens a link in a container only through an extension that opens ext+container: "
    "links, which LinkFerry does not hand it";

// The notes of `trace` (log lines as the router writes them), in trace order, each once.
std::vector<Note> of(const std::vector<std::string>& trace);

// The note for a picker whose candidates include a container target: each would open without
// its container.
std::vector<Note> ofCandidates(const std::vector<Candidate>& candidates);

// The texts joined into one paragraph: "A. B".
std::string joined(const std::vector<Note>& notes);

}  // namespace ClickNotes
}  // namespace linkferry
