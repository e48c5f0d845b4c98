#pragma once

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Json.h"
#include "foundation/Regex.h"
#include "foundation/URL.h"

// Warnings about what a link itself carries before it is opened or offered: a script scheme, or
// script and HTML fragments in its path, query or fragment (the shapes of reflected cross-site
// scripting), plus the host warnings of DomainSafety. Findings inform the user; they never block a
// link by themselves. All functions are pure; the tables are built once and may be read from any
// thread.
namespace linkferry::LinkSafety {

struct Finding {
  // "xss" for findings in the link's content, "domain" for findings on its host.
  enum class Kind { xss, domain };
  // How the user is told: a notice informs ("idn": an international name, as a German shop's
  // is), danger warns (everything that imitates, hides or injects).
  enum class Severity { notice, danger };

  std::string code;     // stable identifier of the kind of problem ("script-tag", "idn", ...)
  std::string label;    // short name of the problem, localised for display
  std::string excerpt;  // the piece of the link that triggered the finding
  Kind kind = Kind::xss;
  Severity severity = Severity::danger;

  // {"code", "label", "excerpt", "kind", "severity"}.
  JsonValue toJson() const;

  bool operator==(const Finding&) const = default;
};

std::string_view toString(Finding::Kind kind);
std::optional<Finding::Kind> kindFromString(std::string_view text);
std::string_view toString(Finding::Severity severity);  // "notice", "danger"
std::optional<Finding::Severity> severityFromString(std::string_view text);
// The severity of a finding with this code: notice for "idn", danger for every other code (an
// unknown one included). For findings read from JSON written before findings had a severity.
Finding::Severity severityOf(std::string_view code);
// Danger when any finding is danger; notice when all are notices; nothing for no findings.
std::optional<Finding::Severity> worst(const std::vector<Finding>& findings);

// One content check: a stable code, its English label and an ICU regular expression that is
// searched case-insensitively.
struct Pattern {
  std::string_view code;
  std::string_view label;
  std::string_view expression;
};

// "javascript", "vbscript" and "data".
const std::set<std::string, std::less<>>& dangerousSchemes();
// The nine content checks, in the order they are tried and reported.
const std::vector<Pattern>& patterns();

// Content findings (kind xss): a dangerous scheme first, then at most one finding per pattern, in
// pattern order, searched in the link's path, query and fragment after "+" became a blank, up to
// three rounds of percent-decoding and the decoding of character references. Never fails.
std::vector<Finding> inspect(const URL& url);
// The classic disguise "https://www.bank.example@evil.example/": user information (user name and
// password) holding a piece that is an IP address or a name with a registrable domain, so that
// the link seems to lead to that host. One finding of kind domain, code "userinfo-host", the user
// information and "@" as excerpt; nothing for a link without user information or with one that
// names no host ("user@example.com" as a login name is fine: "user" is no host).
std::optional<Finding> inspectUserInfo(const URL& url);
// `inspect`, then `inspectUserInfo`, then the findings on the link's host (DomainSafety) when it
// has one.
std::vector<Finding> inspectAll(const URL& url);

// Decodes the named references "&lt;", "&gt;", "&quot;", "&apos;", "&#x27;", "&amp;", "&colon;",
// "&lpar;" and "&rpar;" (any letter case), then the numeric ones ("&#60;", "&#x3c", the ";" is
// optional). A numeric reference that is no Unicode scalar value (a surrogate, beyond U+10FFFF,
// more than 32 bits) is dropped. Text without "&" comes back unchanged. Linear in the text.
std::string decodeEntities(std::string_view text);

// A slice of `text` from 12 characters (grapheme clusters) before `around` to 20 after it, trimmed
// of white space and newlines, with "…" on each side where the slice stops short of the text's
// end. `around` is in UTF-8 byte offsets into `text`; it is widened to whole characters.
std::string excerpt(std::string_view text, Regex::Range around);

}  // namespace linkferry::LinkSafety

template <>
struct std::hash<linkferry::LinkSafety::Finding> {
  std::size_t operator()(const linkferry::LinkSafety::Finding& finding) const noexcept {
    std::hash<std::string> text;
    std::size_t hash = text(finding.code);
    for (const std::string* part : {&finding.label, &finding.excerpt}) {
      hash ^= text(*part) + 0x9e3779b97f4a7c15ull + (hash << 6) + (hash >> 2);
    }
    return hash ^ static_cast<std::size_t>(finding.kind) ^
           (static_cast<std::size_t>(finding.severity) << 1);
  }
};
