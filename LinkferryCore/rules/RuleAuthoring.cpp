#include "rules/RuleAuthoring.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "foundation/L10n.h"
#include "foundation/Overloaded.h"
#include "foundation/Regex.h"
#include "foundation/Text.h"
#include "foundation/Uuid.h"
#include "safety/ReadableLink.h"

namespace linkferry::RuleAuthoring {
namespace {

std::optional<std::string> lowercasedHost(const URL& url) {
  auto host = url.host();
  if (!host || host->empty()) return std::nullopt;
  return Text::lowercased(*host);
}

// A name as the link's line shows it: "bücher.de" for "xn--bcher-kva.de", and a look-alike's
// ASCII form instead of the letters that imitate another name, so neither a rule's name nor the
// picker's offer reads as a site it is not.
std::optional<std::string> shownName(const std::optional<std::string>& name) {
  if (!name) return std::nullopt;
  return ReadableLink::host(*name).shown;
}

std::string_view withoutTrailingSlashes(std::string_view path) {
  while (!path.empty() && path.back() == '/') path.remove_suffix(1);
  return path;
}

// The last `count` "."-separated labels of `host`.
std::string_view lastLabels(std::string_view host, std::size_t count) {
  std::size_t begin = host.size();
  for (std::size_t seen = 0; seen < count; ++seen) {
    const auto dot = host.rfind('.', begin == 0 ? 0 : begin - 1);
    if (begin == 0 || dot == std::string_view::npos) return host;
    begin = dot;
  }
  return host.substr(begin + 1);
}

Rule openRule(std::string name, Matcher match, const BrowserTarget& target,
              std::optional<Date> expiresAt) {
  return Rule{.id = Uuid::random().string(),
              .name = std::move(name),
              .enabled = true,
              .match = std::move(match),
              .action = RuleAction{.kind = RuleActionKind::open(target)},
              .expiresAt = expiresAt};
}

}  // namespace

std::string escapeRegex(std::string_view text) {
  static constexpr std::string_view kSpecial = "\\^$.|?*+()[]{}";
  std::string escaped;
  escaped.reserve(text.size() + 8);
  for (char c : text) {
    if (kSpecial.find(c) != std::string_view::npos) escaped += '\\';
    escaped += c;
  }
  return escaped;
}

bool isValidRegex(std::string_view expression) {
  return !expression.empty() && Regex::compile(expression).has_value();
}

std::optional<std::string> pageRegex(const URL& url) {
  const auto scheme = url.scheme();
  const auto host = url.percentEncodedHost();
  if (!scheme || scheme->empty() || !host || host->empty()) return std::nullopt;
  const std::string loweredScheme = Text::lowercased(*scheme);
  std::string page = Text::lowercased(*host);
  if (const auto port = url.port()) page += ":" + std::to_string(*port);
  page += withoutTrailingSlashes(url.percentEncodedPath());
  const std::string schemePart =
      loweredScheme == "http" || loweredScheme == "https" ? "https?" : escapeRegex(loweredScheme);
  return "^" + schemePart + "://" + escapeRegex(page) + "/?(?:[?#].*)?$";
}

std::optional<std::string> ruleDomain(const URL& url, const PublicSuffixList& psl) {
  auto host = lowercasedHost(url);
  if (!host) return std::nullopt;
  // The site is judged on the host's ASCII form, so both writings of an international name get
  // the same domain; it decides how many labels the domain has, and the rule keeps the host's
  // own writing, which is what the host condition compares with.
  const auto site = psl.siteKey(*host);
  if (!site) return host;
  const auto labels = static_cast<std::size_t>(std::count(site->begin(), site->end(), '.')) + 1;
  std::string_view written = *host;
  if (Text::endsWith(written, ".")) written.remove_suffix(1);
  return std::string(lastLabels(written, labels));
}

std::optional<Matcher> matcher(const RememberScope& scope, const URL& url,
                               const PublicSuffixList& psl) {
  return std::visit(
      Overloaded{
          [](const RememberScope::Pattern& p) -> std::optional<Matcher> {
            if (!isValidRegex(p.expression)) return std::nullopt;
            return Matcher::urlRegex(p.expression);
          },
          [](const RememberScope::AppWindow& w) -> std::optional<Matcher> {
            if (w.scope.app.empty() || !isValidRegex(w.scope.pattern)) return std::nullopt;
            return w.scope.matcher();
          },
          [&](const RememberScope::Page&) -> std::optional<Matcher> {
            auto expression = pageRegex(url);
            if (!expression) return std::nullopt;
            return Matcher::urlRegex(std::move(*expression));
          },
          [&](const RememberScope::Host&) -> std::optional<Matcher> {
            auto host = lowercasedHost(url);
            if (!host) return std::nullopt;
            return Matcher::host(std::move(*host));
          },
          [&](const RememberScope::Domain&) -> std::optional<Matcher> {
            auto domain = ruleDomain(url, psl);
            if (!domain) return std::nullopt;
            return Matcher::host("*." + *domain);
          },
      },
      scope.value());
}

std::optional<std::string> describe(const RememberScope& scope, const URL& url,
                                    const PublicSuffixList& psl) {
  return std::visit(
      Overloaded{
          [](const RememberScope::Pattern& p) -> std::optional<std::string> {
            if (!isValidRegex(p.expression)) return std::nullopt;
            return L10n::tr("URLs matching %@", {p.expression});
          },
          [](const RememberScope::AppWindow& w) -> std::optional<std::string> {
            if (!isValidRegex(w.scope.pattern)) return std::nullopt;
            return L10n::tr("links from %@", {w.scope.description()});
          },
          [&](const RememberScope::Page&) -> std::optional<std::string> {
            auto host = shownName(lowercasedHost(url));
            if (!host) return std::nullopt;
            return L10n::tr("%@ (any parameters)",
                            {*host + std::string(withoutTrailingSlashes(url.path()))});
          },
          [&](const RememberScope::Host&) { return shownName(lowercasedHost(url)); },
          [&](const RememberScope::Domain&) { return shownName(ruleDomain(url, psl)); },
      },
      scope.value());
}

RuleSet adding(const Rule& rule, const RuleSet& ruleSet, Date now) {
  RuleSet result = ruleSet.removingExpired(now);
  // A rule that expires stands in front of a lasting rule for the same links only for a while: it
  // never replaces one, or the user's own rule would be gone once it expired.
  std::erase_if(result.rules, [&](const Rule& existing) {
    return existing.match == rule.match && (!rule.expiresAt || existing.expiresAt);
  });
  result.rules.insert(result.rules.begin(), rule);
  return result;
}

std::optional<Rule> remember(const RememberScope& scope, const URL& url,
                             const BrowserTarget& target, const std::string& label,
                             std::optional<Date> expiresAt, const PublicSuffixList& psl) {
  auto match = matcher(scope, url, psl);
  auto description = describe(scope, url, psl);
  if (!match || !description) return std::nullopt;
  std::string name =
      scope.asAppWindow()
          ? L10n::tr("Links from %@ → %@", {scope.asAppWindow()->description(), label})
          : L10n::tr("Always open %@ in %@", {*description, label});
  return openRule(std::move(name), std::move(*match), target, expiresAt);
}

std::optional<Rule> alwaysOpen(const URL& url, const BrowserTarget& target,
                               const std::optional<std::string>& label,
                               const PublicSuffixList& psl) {
  auto domain = ruleDomain(url, psl);
  if (!domain) return std::nullopt;
  std::string name = L10n::tr("Always open %@ in %@",
                              {*shownName(domain), label ? *label : target.description()});
  return openRule(std::move(name), Matcher::host("*." + *domain), target, std::nullopt);
}

}  // namespace linkferry::RuleAuthoring
