#include "rules/RuleEvaluator.h"

#include <algorithm>

#include "foundation/L10n.h"
#include "foundation/Overloaded.h"
#include "foundation/Regex.h"
#include "foundation/Text.h"
#include "rules/Glob.h"

namespace linkferry::RuleEvaluator {
namespace {

// The options every pattern of a condition is searched with.
constexpr Regex::Options kPatternOptions = Regex::Options::caseInsensitive;

// A case-insensitive search anywhere in `text`; a pattern that does not compile finds nothing.
// `compiled` is the condition's own compiled expression, when it has one.
bool found(const std::string& expression, const std::shared_ptr<const Regex>& compiled,
           const Regex::Subject& text, Patterns patterns) {
  if (patterns == Patterns::cached) {
    if (compiled) return compiled->matches(text);
    auto regex = Regex::cached(expression, kPatternOptions);
    return regex && regex->matches(text);
  }
  auto regex = Regex::compile(expression, kPatternOptions);
  return regex && regex->matches(text);
}

// Rule texts are nearly always lower-case ASCII already; those are used as they are.
bool needsLowercasing(std::string_view text) {
  for (char c : text) {
    if ((c >= 'A' && c <= 'Z') || static_cast<unsigned char>(c) >= 0x80) return true;
  }
  return false;
}

bool hostMatches(const std::string& pattern, const Subject& subject) {
  const auto& host = subject.lowercasedHost();
  if (!host) return false;
  std::string copy;
  if (needsLowercasing(pattern)) copy = Text::lowercased(pattern);
  std::string_view lowered = needsLowercasing(pattern) ? std::string_view(copy) : pattern;
  // "*.example.com" covers example.com itself, not only its subdomains.
  if (Text::startsWith(lowered, "*.") && lowered.substr(2) == *host) return true;
  return Glob::wildcard(lowered, *host);
}

// A prefix counts only when it ends between two user-perceived characters of the path, so "/cafe"
// is no prefix of "/cafe" followed by a combining accent.
bool startsWithCharacters(std::string_view text, std::string_view prefix) {
  if (!Text::startsWith(text, prefix)) return false;
  if (prefix.size() == text.size() || prefix.empty()) return true;
  unsigned char next = static_cast<unsigned char>(text[prefix.size()]);
  if (next < 0x80 && !(prefix.back() == '\r' && next == '\n')) return true;
  std::size_t offset = 0;
  for (std::string_view character : Text::characters(text)) {
    offset += character.size();
    if (offset == prefix.size()) return true;
    if (offset > prefix.size()) return false;
  }
  return false;
}

bool queryMatches(const Matcher::Query& query, const Subject& subject) {
  for (const QueryItem& item : subject.queryItems()) {
    if (item.name != query.key) continue;
    if (!query.value || (item.value && *item.value == *query.value)) return true;
  }
  return false;
}

std::string listText(const std::vector<std::int64_t>& numbers) {
  std::string text = "[";
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    if (i > 0) text += ", ";
    text += std::to_string(numbers[i]);
  }
  return text + "]";
}

// Calls `visit` with every member that is no all, any or not (the matcher itself when it is
// none), in member order.
template <class Visit>
void forEachLeaf(const Matcher& matcher, const Visit& visit) {
  std::visit(Overloaded{
                 [&](const Matcher::All& m) {
                   for (const Matcher& member : m.members) forEachLeaf(member, visit);
                 },
                 [&](const Matcher::Any& m) {
                   for (const Matcher& member : m.members) forEachLeaf(member, visit);
                 },
                 [&](const Matcher::Not& m) { forEachLeaf(*m.member, visit); },
                 [&](const auto& leaf) { visit(leaf); },
             },
             matcher.value());
}

// Calls `visit` with every regular expression of the matcher, in member order; `other` with the
// other leaves.
template <class Visit, class Other>
void forEachExpression(const Matcher& matcher, const Visit& visit, const Other& other) {
  forEachLeaf(matcher, Overloaded{
                           [&](const Matcher::HostRegex& m) { visit(m.expression); },
                           [&](const Matcher::URLRegex& m) { visit(m.expression); },
                           [&](const Matcher::SourceWindow& m) { visit(m.expression); },
                           [&](const auto& leaf) { other(leaf); },
                       });
}

void collectProblems(const Matcher& matcher, std::vector<std::string>& problems) {
  auto checkPattern = [&](const std::string& expression) {
    if (!Regex::cached(expression)) {
      problems.push_back(L10n::tr("invalid regular expression: %@", {expression}));
    }
  };
  forEachExpression(
      matcher, checkPattern,
      Overloaded{
          [&](const TimeWindow& window) {
            if (!TimeWindow::minutes(window.start) || !TimeWindow::minutes(window.end)) {
              problems.push_back(L10n::tr("invalid time window %@-%@, expected HH:mm",
                                          {window.start, window.end}));
            }
            if (window.days && std::any_of(window.days->begin(), window.days->end(),
                                           [](std::int64_t day) { return day < 1 || day > 7; })) {
              problems.push_back(L10n::tr("invalid days %@, expected 1 (Monday) to 7 (Sunday)",
                                          {listText(*window.days)}));
            }
          },
          [](const auto&) {},
      });
}

}  // namespace

Subject::Subject(const LinkRequest& request, const RoutingContext& context, Patterns patterns)
    : m_request(request), m_context(context), m_patterns(patterns) {}

namespace {

// The value of `slot`, computed on first use.
template <class T, class Compute>
const T& once(std::optional<T>& slot, Compute compute) {
  if (!slot) slot.emplace(compute());
  return *slot;
}

std::optional<std::string> lowered(const std::optional<std::string>& text) {
  return text ? std::optional(Text::lowercased(*text)) : std::nullopt;
}

std::optional<Regex::Subject> prepared(const std::optional<std::string>& text) {
  return text ? std::optional<Regex::Subject>(std::in_place, *text) : std::nullopt;
}

}  // namespace

const std::optional<std::string>& Subject::host() const {
  return once(m_host, [&] { return m_request.url.host(); });
}

const std::optional<std::string>& Subject::lowercasedHost() const {
  return once(m_lowercasedHost, [&] { return lowered(host()); });
}

const std::string& Subject::path() const {
  return once(m_path, [&] { return m_request.url.path(); });
}

const std::vector<QueryItem>& Subject::queryItems() const {
  return once(m_queryItems, [&] { return m_request.url.queryItems(); });
}

const std::optional<std::string>& Subject::lowercasedSourceApp() const {
  return once(m_lowercasedSourceApp, [&] { return lowered(m_request.sourceApp); });
}

const std::optional<Regex::Subject>& Subject::hostForSearch() const {
  return once(m_hostForSearch, [&] { return prepared(host()); });
}

const Regex::Subject& Subject::urlForSearch() const {
  return once(m_urlForSearch, [&] { return Regex::Subject(m_request.url.absoluteString()); });
}

const std::optional<Regex::Subject>& Subject::sourceWindowForSearch() const {
  return once(m_sourceWindowForSearch, [&] { return prepared(m_request.sourceWindow); });
}

const std::optional<std::string>& Subject::lowercasedScheme() const {
  return once(m_lowercasedScheme, [&] { return lowered(m_request.url.scheme()); });
}

bool matches(const Matcher& matcher, const LinkRequest& request, const RoutingContext& context) {
  return matches(matcher, Subject(request, context));
}

bool matches(const Matcher& matcher, const Subject& subject) {
  const RoutingContext& context = subject.context();
  return std::visit(
      Overloaded{
          [&](const Matcher::Host& m) { return hostMatches(m.pattern, subject); },
          [&](const Matcher::HostRegex& m) {
            const auto& host = subject.hostForSearch();
            return host && found(m.expression, m.compiled, *host, subject.patterns());
          },
          [&](const Matcher::PathPrefix& m) {
            return startsWithCharacters(subject.path(), m.prefix);
          },
          [&](const Matcher::URLRegex& m) {
            return found(m.expression, m.compiled, subject.urlForSearch(), subject.patterns());
          },
          [&](const Matcher::Scheme& m) {
            const auto& scheme = subject.lowercasedScheme();
            if (!scheme) return false;
            return needsLowercasing(m.value) ? *scheme == Text::lowercased(m.value)
                                             : *scheme == m.value;
          },
          [&](const Matcher::Query& m) { return queryMatches(m, subject); },
          [&](const Matcher::SourceApp& m) {
            const auto& app = subject.lowercasedSourceApp();
            if (!app) return false;
            return needsLowercasing(m.bundleID) ? *app == Text::lowercased(m.bundleID)
                                                : *app == m.bundleID;
          },
          [&](const Matcher::SourceWindow& m) {
            const auto& window = subject.sourceWindowForSearch();
            return window && found(m.expression, m.compiled, *window, subject.patterns());
          },
          [&](const Matcher::Network& m) { return context.activeNetworks.contains(m.name); },
          [&](const TimeWindow& window) { return window.contains(context.now, context.calendar); },
          [&](const Matcher::All& m) {
            return std::all_of(m.members.begin(), m.members.end(),
                               [&](const Matcher& member) { return matches(member, subject); });
          },
          [&](const Matcher::Any& m) {
            return std::any_of(m.members.begin(), m.members.end(),
                               [&](const Matcher& member) { return matches(member, subject); });
          },
          [&](const Matcher::Not& m) { return !matches(*m.member, subject); },
      },
      matcher.value());
}

void collectPatterns(const Matcher& matcher, std::vector<std::shared_ptr<const Regex>>& into) {
  forEachExpression(
      matcher,
      [&](const std::string& expression) {
        if (auto regex = Regex::cached(expression, kPatternOptions)) into.push_back(regex);
      },
      [](const auto&) {});
}

std::vector<std::string> problems(const Matcher& matcher) {
  std::vector<std::string> result;
  collectProblems(matcher, result);
  return result;
}

}  // namespace linkferry::RuleEvaluator
