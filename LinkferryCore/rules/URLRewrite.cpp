#include "rules/URLRewrite.h"

#include <type_traits>

#include "foundation/L10n.h"
#include "foundation/Overloaded.h"
#include "foundation/Regex.h"
#include "foundation/Text.h"

namespace linkferry {
namespace {

// A new host holding one of these would be percent-encoded into a host that cannot be looked up
// ("new.com:8080" becomes "new.com%3A8080"), or would end the host early: the rule editor refuses
// it, and a rule file that holds one leaves links unchanged.
bool holdsNoHostCharacters(std::string_view host) {
  return host.find_first_of("/:?#@ \t\n\r\f\v") == std::string_view::npos;
}

std::optional<URL> withReplacedHost(const URL& url, std::string_view newHost) {
  std::string host = Text::lowercased(Text::trimmed(newHost, Text::TrimSet::spacesAndTabs));
  if (host.empty() || !holdsNoHostCharacters(host)) return std::nullopt;
  if (!url.host()) return std::nullopt;
  URLComponents components(url);
  components.setHost(host);
  return components.url();
}

std::shared_ptr<const Regex> compiled(const URLRewrite::RegexReplacement& rewrite) {
  return Regex::cached(rewrite.pattern, Regex::Options::caseInsensitive);
}

std::optional<URL> withRegexReplacement(const URL& url,
                                        const URLRewrite::RegexReplacement& rewrite) {
  auto regex = compiled(rewrite);
  if (!regex) return std::nullopt;
  const std::string& text = url.absoluteString();
  if (!regex->matches(text)) return std::nullopt;
  auto replaced = regex->replacingAll(text, rewrite.replacement);
  if (!replaced) return std::nullopt;
  return URL::parse(*replaced);
}

std::optional<URL> withoutPrefix(const URL& url, std::string_view prefix) {
  const std::string& text = url.absoluteString();
  if (prefix.empty()) return std::nullopt;
  if (!Text::startsWith(Text::lowercased(text), Text::lowercased(prefix))) return std::nullopt;
  // Lower-casing may change lengths, so the prefix is removed by its count of characters.
  std::string_view rest =
      std::string_view(text).substr(Text::prefix(text, Text::characterCount(prefix)).size());
  auto withScheme = [](std::string_view candidate) -> std::optional<URL> {
    auto parsed = URL::parse(candidate);
    if (parsed && parsed->scheme()) return parsed;
    return std::nullopt;
  };
  if (auto direct = withScheme(rest)) return direct;
  std::optional<std::string> decoded = PercentEncoding::decode(rest);
  return withScheme(decoded ? std::string_view(*decoded) : rest);
}

}  // namespace

std::optional<URL> URLRewrite::apply(const URL& url) const {
  std::optional<URL> candidate = std::visit(
      Overloaded{
          [&](const Host& rewrite) { return withReplacedHost(url, rewrite.newHost); },
          [&](const RegexReplacement& rewrite) { return withRegexReplacement(url, rewrite); },
          [&](const StripPrefix& rewrite) { return withoutPrefix(url, rewrite.prefix); },
      },
      m_value);
  if (!candidate || !candidate->scheme() || *candidate == url) return std::nullopt;
  return candidate;
}

std::shared_ptr<const Regex> URLRewrite::compiledPattern() const {
  const auto* rewrite = std::get_if<RegexReplacement>(&m_value);
  return rewrite ? compiled(*rewrite) : nullptr;
}

std::string URLRewrite::summary() const {
  return std::visit(
      Overloaded{
          [](const Host& rewrite) { return L10n::tr("rewrite host to %@", {rewrite.newHost}); },
          [](const RegexReplacement& rewrite) {
            return L10n::tr("rewrite %@ → %@", {rewrite.pattern, rewrite.replacement});
          },
          [](const StripPrefix& rewrite) { return L10n::tr("remove prefix %@", {rewrite.prefix}); },
      },
      m_value);
}

std::vector<std::string> URLRewrite::problems() const {
  return std::visit(Overloaded{
                        [](const Host& rewrite) -> std::vector<std::string> {
                          std::string_view host =
                              Text::trimmed(rewrite.newHost, Text::TrimSet::whitespace);
                          if (host.empty()) return {L10n::tr("Enter the new host name.")};
                          if (!holdsNoHostCharacters(host)) {
                            return {L10n::tr("A host name has no spaces or slashes.")};
                          }
                          return {};
                        },
                        [](const RegexReplacement& rewrite) -> std::vector<std::string> {
                          if (rewrite.pattern.empty() || !Regex::cached(rewrite.pattern)) {
                            return {L10n::tr("Not a valid regular expression.")};
                          }
                          return {};
                        },
                        [](const StripPrefix& rewrite) -> std::vector<std::string> {
                          if (rewrite.prefix.empty())
                            return {L10n::tr("Enter the prefix to remove.")};
                          return {};
                        },
                    },
                    m_value);
}

JsonValue URLRewrite::toJson() const {
  JsonValue json = JsonValue::object();
  std::visit(Overloaded{
                 [&](const Host& rewrite) { json["host"] = rewrite.newHost; },
                 [&](const RegexReplacement& rewrite) {
                   json["regex"] = rewrite.pattern;
                   json["replacement"] = rewrite.replacement;
                 },
                 [&](const StripPrefix& rewrite) { json["stripPrefix"] = rewrite.prefix; },
             },
             m_value);
  return json;
}

URLRewrite URLRewrite::fromJson(const JsonReader& json) {
  if (!json.isObject()) json.fail("expected an object, got " + Json::typeName(json.value()));
  if (json.has("host")) return host(json["host"].string());
  if (json.has("regex")) {
    auto replacement = json.optional("replacement");
    return regex(json["regex"].string(), replacement ? replacement->string() : std::string());
  }
  if (json.has("stripPrefix")) return stripPrefix(json["stripPrefix"].string());
  json.fail("A rewrite needs one of host, regex (+ replacement), stripPrefix");
}

}  // namespace linkferry
