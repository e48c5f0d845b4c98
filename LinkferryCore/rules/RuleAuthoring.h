#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "browsers/BrowserTarget.h"
#include "foundation/Dates.h"
#include "foundation/URL.h"
#include "rules/Matcher.h"
#include "rules/RememberScope.h"
#include "rules/Rule.h"
#include "rules/RuleSet.h"
#include "safety/PublicSuffixList.h"

// Turning a picker choice into a rule: the condition and the description of each remember scope,
// and how the new rule joins the rule set. Nothing here fails: what cannot be made (an invalid
// pattern, a link without host) is absent and the caller creates no rule. Pure functions;
// callable from any thread.
namespace linkferry::RuleAuthoring {

// The condition that covers `scope` for `url`:
// - pattern: urlRegex(pattern), when the pattern is valid (isValidRegex);
// - appWindow: the scope's matcher, when its app is not empty and its pattern valid;
// - page: urlRegex(pageRegex(url));
// - host: host(the lower-cased host);
// - domain: host("*." + ruleDomain(url)).
// Nothing when the scope cannot be made for the link.
std::optional<Matcher> matcher(const RememberScope& scope, const URL& url,
                               const PublicSuffixList& psl);

// What the scope covers, for the user: "URLs matching <p>", "links from <app> · <label>",
// "<host><path> (any parameters)", the lower-cased host, or the rule domain. Absent exactly when
// `matcher` is, except that an app-window scope with an empty app still has a description.
std::optional<std::string> describe(const RememberScope& scope, const URL& url,
                                    const PublicSuffixList& psl);

// An expression that matches the link's page over http and https, with or without a trailing
// "/", with any query or fragment: "^https?://example\.com/a/b/?(?:[?#].*)?$". The host and path
// are taken as the link's own text writes them (escapes kept), because that text is what a
// urlRegex condition searches. Nothing without a scheme or host.
std::optional<std::string> pageRegex(const URL& url);

// `text` with a backslash before each of \ ^ $ . | ? * + ( ) [ ] { }.
std::string escapeRegex(std::string_view text);

// Not empty and compiles as a regular expression (no options).
bool isValidRegex(std::string_view expression);

// The registrable domain of the lower-cased host, written as the host writes it, or the host
// itself when it has none (an IP address, a single label, a public suffix). The site is judged on
// the host's ASCII form, so "bücher.de" and "xn--bcher-kva.de" are judged alike. Nothing without
// a host.
std::optional<std::string> ruleDomain(const URL& url, const PublicSuffixList& psl);

// The rule set without its expired rules and without every rule whose condition equals the new
// rule's, with the new rule first: a remembered choice takes priority over all existing rules.
RuleSet adding(const Rule& rule, const RuleSet& ruleSet, Date now);

// The rule that opens links of `scope` in `target`, named "Links from <scope> → <label>" for an
// app-window scope and "Always open <description> in <label>" otherwise; a fresh random id,
// enabled, no launch preferences, expiring at `expiresAt`. Nothing unless both the matcher and
// the description exist.
std::optional<Rule> remember(const RememberScope& scope, const URL& url,
                             const BrowserTarget& target, const std::string& label,
                             std::optional<Date> expiresAt, const PublicSuffixList& psl);

// The domain rule "Always open <domain> in <label>" (the target's description when no label is
// given). Nothing without a host.
std::optional<Rule> alwaysOpen(const URL& url, const BrowserTarget& target,
                               const std::optional<std::string>& label,
                               const PublicSuffixList& psl);

}  // namespace linkferry::RuleAuthoring
