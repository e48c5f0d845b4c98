#include "router/ClickNotes.h"

#include <algorithm>
#include <utility>

#include "foundation/Text.h"
#include "launching/LaunchCommand.h"

namespace linkferry::ClickNotes {
namespace {

// The rules stage's abstention that lists the rules it passed over (RulesStage), as a trace line:
// "[rules] abstained: no usable rule (rule “A”: unknown browser x; …) (0.1 ms)".
constexpr std::string_view kSkippedRules = "[rules] abstained: no usable rule (";
constexpr std::string_view kUnknownBrowser = ": unknown browser ";
constexpr std::string_view kNoPromptBrowser = ": no known browser to prompt";
// Router::choose's lines for a choice that was not remembered.
constexpr std::string_view kNotSaved = "rule not saved: ";
constexpr std::string_view kNoRule = "nothing remembered: ";

std::string capitalised(std::string text) {
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 32);
  return text;
}

void add(std::vector<Note>& notes, Note note) {
  if (std::find(notes.begin(), notes.end(), note) == notes.end()) notes.push_back(std::move(note));
}

void addSkippedRules(std::vector<Note>& notes, std::string_view line) {
  std::string_view list = line.substr(kSkippedRules.size());
  // The stage's summary ends in ")", the trace line adds " (<duration> ms)" after it.
  if (const std::size_t timing = list.rfind(") ("); timing != std::string_view::npos) {
    list = list.substr(0, timing);
  } else if (list.ends_with(')')) {
    list.remove_suffix(1);
  }
  for (std::string_view part : Text::split(list, ';')) {
    if (part.starts_with(' ')) part.remove_prefix(1);
    const std::string piece(part);
    if (const std::size_t at = piece.find(kUnknownBrowser); at != std::string::npos) {
      add(notes, {Note::Kind::ruleSkipped,
                  capitalised(piece.substr(0, at)) + " was skipped: its browser " +
                      piece.substr(at + kUnknownBrowser.size()) + " is not on this machine"});
    } else if (const std::size_t none = piece.find(kNoPromptBrowser); none != std::string::npos) {
      add(notes, {Note::Kind::ruleSkipped, capitalised(piece.substr(0, none)) +
                                               " was skipped: none of its browsers is on this "
                                               "machine"});
    }
  }
}

}  // namespace

std::vector<Note> of(const std::vector<std::string>& trace) {
  std::vector<Note> notes;
  for (const std::string& line : trace) {
    if (line.starts_with(kSkippedRules)) {
      addSkippedRules(notes, line);
    } else if (line == LaunchCommand::kContainerWarning) {
      add(notes, {Note::Kind::containerDropped,
                  "Opened without its Firefox container: " + std::string(kContainerReason)});
    } else if (line.starts_with(kNotSaved)) {
      add(notes, {Note::Kind::notRemembered,
                  "The choice was not remembered: " + line.substr(kNotSaved.size())});
    } else if (line.starts_with(kNoRule)) {
      add(notes, {Note::Kind::notRemembered,
                  "The choice was not remembered: " + line.substr(kNoRule.size())});
    }
  }
  return notes;
}

std::vector<Note> ofCandidates(const std::vector<Candidate>& candidates) {
  const bool container = std::any_of(candidates.begin(), candidates.end(), [](const Candidate& c) {
    return c.target.container.has_value();
  });
  if (!container) return {};
  return {{Note::Kind::containerDropped,
           "A container choice opens without its container: " + std::string(kContainerReason)}};
}

std::string joined(const std::vector<Note>& notes) {
  std::vector<std::string> texts;
  for (const Note& note : notes) texts.push_back(note.text);
  return Text::join(texts, ". ");
}

}  // namespace linkferry::ClickNotes
