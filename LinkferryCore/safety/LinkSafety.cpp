#include "safety/LinkSafety.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>

#include "foundation/L10n.h"
#include "foundation/Text.h"
#include "safety/DomainSafety.h"
#include "safety/PublicSuffixList.h"

namespace linkferry::LinkSafety {
namespace {

struct NamedReference {
  std::string_view name;
  std::string_view replacement;
};

constexpr std::array<NamedReference, 9> kNamedReferences = {{
    {"&lt;", "<"},
    {"&gt;", ">"},
    {"&quot;", "\""},
    {"&apos;", "'"},
    {"&#x27;", "'"},
    {"&amp;", "&"},
    {"&colon;", ":"},
    {"&lpar;", "("},
    {"&rpar;", ")"},
}};

char asciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool startsWithIgnoringCase(std::string_view text, std::size_t at, std::string_view prefix) {
  if (text.size() - at < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (asciiLower(text[at + i]) != prefix[i]) return false;
  }
  return true;
}

// Every occurrence of one named reference replaced, in one left-to-right pass.
std::string replacingReference(std::string_view text, const NamedReference& reference) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == '&' && startsWithIgnoringCase(text, i, reference.name)) {
      result += reference.replacement;
      i += reference.name.size();
    } else {
      result += text[i++];
    }
  }
  return result;
}

void appendScalar(std::string& out, char32_t c) {
  out += Text::fromCodePoints({&c, 1});
}

// Numeric references, as the regular expression "&#(x[0-9a-f]+|[0-9]+);?" (case-insensitive)
// would find them left to right, scanned by hand so that the pass stays linear however many
// references the text holds.
std::string decodingNumericReferences(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '&' || i + 2 >= text.size() || text[i + 1] != '#') {
      result += text[i++];
      continue;
    }
    std::size_t digits = i + 2;
    bool hexadecimal = asciiLower(text[digits]) == 'x';
    if (hexadecimal) ++digits;
    std::size_t end = digits;
    std::uint64_t value = 0;
    bool fits = true;
    while (end < text.size()) {
      int digit = hexadecimal ? Text::hexDigitValue(text[end])
                              : (text[end] >= '0' && text[end] <= '9' ? text[end] - '0' : -1);
      if (digit < 0) break;
      value = value * (hexadecimal ? 16 : 10) + static_cast<std::uint64_t>(digit);
      if (value > 0xFFFFFFFFull) fits = false, value = 0x100000000ull;
      ++end;
    }
    if (end == digits) {  // "&#" not followed by a number
      result += text[i++];
      continue;
    }
    if (end < text.size() && text[end] == ';') ++end;
    bool scalar = fits && value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF);
    if (scalar) appendScalar(result, static_cast<char32_t>(value));
    i = end;
  }
  return result;
}

// One round of percent-decoding that never gives up: a malformed escape ("%zz", a lone "%") stays
// as written and bytes that are not UTF-8 become U+FFFD. A strict decoder would leave the whole
// text encoded as soon as one stray "%" appears, hiding every payload behind it.
std::string percentDecodedLeniently(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && Text::hexDigitValue(text[i + 1]) >= 0 &&
        Text::hexDigitValue(text[i + 2]) >= 0) {
      result += static_cast<char>(Text::hexDigitValue(text[i + 1]) * 16 + Text::hexDigitValue(text[i + 2]));
      i += 2;
    } else {
      result += text[i];
    }
  }
  return Text::repairedUTF8(result);
}

Finding contentFinding(std::string_view code, std::string_view label, std::string excerpt) {
  return Finding{std::string(code), L10n::tr(label), std::move(excerpt), Finding::Kind::xss};
}

}  // namespace

JsonValue Finding::toJson() const {
  return JsonValue{{"code", code},
                   {"label", label},
                   {"excerpt", excerpt},
                   {"kind", toString(kind)},
                   {"severity", toString(severity)}};
}

std::string_view toString(Finding::Kind kind) {
  switch (kind) {
    case Finding::Kind::xss:
      return "xss";
    case Finding::Kind::domain:
      return "domain";
  }
  return "xss";
}

std::optional<Finding::Kind> kindFromString(std::string_view text) {
  if (text == "xss") return Finding::Kind::xss;
  if (text == "domain") return Finding::Kind::domain;
  return std::nullopt;
}

std::string_view toString(Finding::Severity severity) {
  switch (severity) {
    case Finding::Severity::notice:
      return "notice";
    case Finding::Severity::danger:
      return "danger";
  }
  return "danger";
}

std::optional<Finding::Severity> severityFromString(std::string_view text) {
  if (text == "notice") return Finding::Severity::notice;
  if (text == "danger") return Finding::Severity::danger;
  return std::nullopt;
}

Finding::Severity severityOf(std::string_view code) {
  return code == "idn" ? Finding::Severity::notice : Finding::Severity::danger;
}

std::optional<Finding::Severity> worst(const std::vector<Finding>& findings) {
  if (findings.empty()) return std::nullopt;
  for (const Finding& finding : findings) {
    if (finding.severity == Finding::Severity::danger) return Finding::Severity::danger;
  }
  return Finding::Severity::notice;
}

const std::set<std::string, std::less<>>& dangerousSchemes() {
  static const auto& schemes =
      *new std::set<std::string, std::less<>>{"javascript", "vbscript", "data"};
  return schemes;
}

const std::vector<Pattern>& patterns() {
  static const auto& table = *new std::vector<Pattern>{
      {"script-tag", "script tag", R"(<\s*/?\s*script\b)"},
      {"event-handler", "HTML event handler",
       R"(\bon(error|load|mouseover|mouseenter|focus|blur|click|begin|toggle|animationstart|pageshow|input|change)\s*=)"},
      {"js-url", "javascript: URL", R"((java|vb)script\s*:)"},
      {"html-data-url", "HTML data: URL", R"(data\s*:\s*text/html)"},
      {"active-tag", "active HTML tag", R"(<\s*(iframe|svg|object|embed|math|base|meta|form)\b)"},
      {"srcdoc", "iframe srcdoc", R"(\bsrcdoc\s*=)"},
      {"cookie-access", "cookie or location access",
       R"(document\s*\.\s*(cookie|domain|write)|window\s*\.\s*location|\blocalstorage\b)"},
      {"js-call", "script function call",
       R"(\b(alert|prompt|confirm|eval|settimeout|fetch)\s*[(`]|string\s*\.\s*fromcharcode|\batob\s*\()"},
      {"tag-breakout", "attribute break-out", R"(["']\s*/?\s*>\s*<)"},
  };
  return table;
}

std::vector<Finding> inspect(const URL& url) {
  std::vector<Finding> findings;
  if (std::optional<std::string> scheme = url.scheme()) {
    std::string lowered = Text::asciiLowercased(*scheme);
    if (dangerousSchemes().count(lowered)) {
      findings.push_back(contentFinding("scheme", "dangerous link type", lowered + ":"));
    }
  }

  // Only what the server or page receives: the authority is no place for a payload. Separators
  // are added only for parts the link has, so an excerpt never shows a "?" or "#" it lacks.
  std::string text = url.percentEncodedPath();
  if (std::optional<std::string> query = url.query()) text += "?" + *query;
  if (std::optional<std::string> fragment = url.fragment()) text += "#" + *fragment;
  for (char& c : text) {
    if (c == '+') c = ' ';
  }
  // Payloads encoded two or three times are decoded too; a fourth level is not.
  for (int round = 0; round < 3; ++round) {
    std::string decoded = percentDecodedLeniently(text);
    if (decoded == text) break;
    text = std::move(decoded);
  }
  text = decodeEntities(text);

  const Regex::Subject searched(text);
  for (const Pattern& pattern : patterns()) {
    std::shared_ptr<const Regex> regex =
        Regex::cached(pattern.expression, Regex::Options::caseInsensitive);
    if (!regex) continue;
    if (std::optional<Regex::Match> match = regex->firstMatch(searched)) {
      findings.push_back(contentFinding(pattern.code, pattern.label, excerpt(text, match->range)));
    }
  }
  return findings;
}

std::optional<Finding> inspectUserInfo(const URL& url) {
  std::optional<std::string> user = url.user();
  std::optional<std::string> password = url.password();
  if (!user && !password) return std::nullopt;
  std::string userInfo = user.value_or("");
  if (password) userInfo += ":" + *password;
  // Pieces that could be a host name: runs of letters, digits, "." and "-" (non-ASCII letters
  // included, for look-alike names), each judged on its own.
  bool hostLike = false;
  std::string piece;
  auto judge = [&] {
    std::string_view name = piece;
    while (!name.empty() && name.back() == '.') name.remove_suffix(1);
    if (name.find('.') != std::string_view::npos) {
      // The list's default rule would make any "first.last" a domain; a login name such as
      // "john.smith" is not one unless its last label is a top-level domain the list knows.
      const std::string lowered = Text::lowercased(name);
      const std::string topLevel = lowered.substr(lowered.rfind('.') + 1);
      hostLike |= PublicSuffixList::isIPAddress(lowered) ||
                  (PublicSuffixList::shared().isRule(topLevel) &&
                   PublicSuffixList::shared().registrableDomain(lowered).has_value());
    }
    piece.clear();
  };
  for (char c : userInfo) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || c == '.' || c == '-' || byte >= 0x80) {
      piece += c;
    } else {
      judge();
    }
  }
  judge();
  if (!hostLike) return std::nullopt;
  return Finding{"userinfo-host", L10n::tr("user name that looks like a host"), userInfo + "@",
                 Finding::Kind::domain};
}

std::vector<Finding> inspectAll(const URL& url) {
  std::vector<Finding> findings = inspect(url);
  if (std::optional<Finding> userInfo = inspectUserInfo(url)) findings.push_back(*userInfo);
  std::vector<Finding> hostFindings = DomainSafety::inspect(url);
  findings.insert(findings.end(), hostFindings.begin(), hostFindings.end());
  return findings;
}

std::string decodeEntities(std::string_view text) {
  if (text.find('&') == std::string_view::npos) return std::string(text);
  std::string result(text);
  for (const NamedReference& reference : kNamedReferences) {
    if (result.find('&') == std::string::npos) break;
    result = replacingReference(result, reference);
  }
  return decodingNumericReferences(result);
}

std::string excerpt(std::string_view text, Regex::Range around) {
  std::size_t begin = std::min(around.begin, text.size());
  std::size_t end = std::clamp(around.end, begin, text.size());
  // A match may start or stop inside a character (a base letter and its combining mark).
  for (std::string_view character : Text::characters(text)) {
    const auto start = static_cast<std::size_t>(character.data() - text.data());
    const std::size_t stop = start + character.size();
    if (start < begin && begin < stop) begin = start;
    if (start < end && end < stop) end = stop;
  }
  std::string_view before = Text::suffix(text.substr(0, begin), 12);
  std::string_view after = Text::prefix(text.substr(end), 20);
  const std::size_t from = begin - before.size();
  const std::size_t to = end + after.size();
  std::string piece(Text::trimmed(text.substr(from, to - from)));
  if (from > 0) piece.insert(0, "…");
  if (to < text.size()) piece += "…";
  return piece;
}

}  // namespace linkferry::LinkSafety
