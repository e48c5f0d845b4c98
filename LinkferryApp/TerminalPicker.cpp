#include "TerminalPicker.h"

#include <charconv>

#include "foundation/Text.h"
#include "rules/TargetLabel.h"
#include "safety/ReadableLink.h"
#include "settings/PickerModel.h"

namespace linkferry::TerminalPicker {

std::vector<std::string> header(const PickerRequest& request) {
  std::vector<std::string> lines{"Open " + ReadableLink::text(request.url) + " in:"};
  const std::optional<LinkSafety::Finding::Severity> severity = LinkSafety::worst(request.safety);
  if (severity == LinkSafety::Finding::Severity::danger) {
    lines.push_back("  This link looks dangerous:");
    for (const LinkSafety::Finding& finding : request.safety) {
      lines.push_back("    " + finding.label + ": " + finding.excerpt);
    }
  } else if (severity) {
    const ReadableLink::Host host = ReadableLink::host(request.url.percentEncodedHost().value_or(""));
    std::vector<std::string> excerpts;
    for (const LinkSafety::Finding& finding : request.safety) excerpts.push_back(finding.excerpt);
    lines.push_back("  International name: " + (host.ascii ? host.shown + " (" + *host.ascii + ")"
                                                           : Text::join(excerpts, "; ")));
  }
  if (request.note) {
    for (std::string_view line : Text::split(Text::trimmed(*request.note), '\n')) {
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      lines.push_back("  " + std::string(line));
    }
  }
  return lines;
}

std::vector<std::string> rows(const PickerRequest& request, const BrowserCatalog& catalog) {
  std::vector<std::string> lines;
  for (std::size_t row = 0; row < request.candidates.size(); ++row) {
    const Candidate& candidate = request.candidates[row];
    std::string badge = PickerKeys::badge(static_cast<std::int64_t>(row))
                            .value_or(std::to_string(row + 1));
    std::string line = (badge.size() < 2 ? " " : "") + badge + "  " +
                       TargetLabel::text(candidate.target, catalog);
    std::string reasons;
    for (const Reason& reason : candidate.reasons) {
      reasons += (reasons.empty() ? "" : "; ") + reason.stage + ": " + reason.detail;
    }
    if (!reasons.empty()) line += "   " + reasons;
    lines.push_back(std::move(line));
  }
  return lines;
}

Answer parse(std::string_view text, std::size_t count) {
  const std::string_view trimmed = Text::trimmed(text);
  if (trimmed.empty()) return Answer{Answer::Kind::cancel};
  Answer answer;
  std::string_view rest = trimmed;
  if (rest.front() == 'r' || rest.front() == 'R') {
    answer.remember = true;
    rest.remove_prefix(1);
  } else if (rest.front() == 'p' || rest.front() == 'P') {
    answer.privateMode = true;
    rest.remove_prefix(1);
  }
  std::size_t number = 0;
  const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), number);
  if (rest.empty() || error != std::errc() || end != rest.data() + rest.size()) return Answer{};
  // The badges run 1…9 then 0 for the tenth row; later rows go by their row number.
  const std::size_t row = number == 0 ? 9 : number - 1;
  if (row >= count) return Answer{};
  answer.kind = Answer::Kind::choose;
  answer.index = row;
  return answer;
}

}  // namespace linkferry::TerminalPicker
