#include "ClickNotice.h"

#include <algorithm>
#include <vector>

#include "foundation/DisplayText.h"
#include "foundation/Text.h"
#include "router/ClickNotes.h"
#include "router/Router.h"

namespace linkferry::ClickNotice {
namespace {

// One thing to tell, ranked: the lower, the more the user needs to know it.
struct Problem {
  int rank = 0;
  std::string summary;
  std::string text;
};

int rankOf(ClickNotes::Note::Kind kind) {
  switch (kind) {
    case ClickNotes::Note::Kind::notRemembered:
      return 1;
    case ClickNotes::Note::Kind::ruleSkipped:
      return 2;
    case ClickNotes::Note::Kind::containerDropped:
      return 3;
  }
  return 3;
}

std::string summaryOf(ClickNotes::Note::Kind kind) {
  switch (kind) {
    case ClickNotes::Note::Kind::notRemembered:
      return "The choice was not remembered";
    case ClickNotes::Note::Kind::ruleSkipped:
      return "A rule was skipped";
    case ClickNotes::Note::Kind::containerDropped:
      return "Opened without its container";
  }
  return {};
}

}  // namespace

std::optional<Notice> of(const ClickOutcome& outcome,
                         const std::optional<std::string>& lateFailure) {
  std::vector<Problem> problems;
  if (lateFailure) {
    problems.push_back({0, "Could not open the link", *lateFailure});
  } else if (outcome.status == "pick") {
    return std::nullopt;
  } else if (outcome.status == "cancelled" &&
             outcome.reason == std::string(Router::kUnconfirmedDangerReason)) {
    problems.push_back({0, "A dangerous link was not opened",
                        "The link was not opened: it looks dangerous and there was no picker to "
                        "confirm it; open it with linkferry open --pick to decide"});
  } else if (outcome.status == "failed") {
    const std::string where = outcome.target ? *outcome.target + ": " : "";
    problems.push_back({0, "Could not open the link",
                        "Could not open the link: " + where + outcome.error.value_or("it failed")});
  }
  for (const ClickNotes::Note& note : ClickNotes::of(outcome.trace)) {
    problems.push_back({rankOf(note.kind), summaryOf(note.kind), note.text});
  }
  if (outcome.logError) {
    problems.push_back({4, "The decision log could not be written",
                        "The decision log could not be written: " + *outcome.logError});
  }
  if (problems.empty()) return std::nullopt;
  std::stable_sort(problems.begin(), problems.end(),
                   [](const Problem& a, const Problem& b) { return a.rank < b.rank; });
  Notice notice{problems.front().summary, DisplayText::escaped(outcome.link)};
  for (const Problem& problem : problems) notice.body += "\n" + DisplayText::escaped(problem.text);
  return notice;
}

std::string line(const Notice& notice) {
  std::vector<std::string> lines;
  for (std::string_view part : Text::split(notice.body, '\n')) lines.emplace_back(part);
  // The first line is the link, which the outcome shows already; each other is a sentence of its
  // own.
  if (!lines.empty()) lines.erase(lines.begin());
  return Text::join(lines, "; ");
}

}  // namespace linkferry::ClickNotice
