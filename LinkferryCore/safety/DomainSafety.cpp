#include "safety/DomainSafety.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <cstdio>

#include "foundation/DisplayText.h"
#include "foundation/L10n.h"
#include "foundation/Text.h"
#include "safety/PublicSuffixList.h"
#include "safety/Punycode.h"

namespace linkferry::DomainSafety {
namespace {

using LinkSafety::Finding;

constexpr Script kAllScripts[] = {Script::latin,    Script::greek,    Script::cyrillic,
                                  Script::armenian, Script::cherokee, Script::georgian,
                                  Script::other};

bool isLookAlike(Script script) {
  switch (script) {
    case Script::greek:
    case Script::cyrillic:
    case Script::armenian:
    case Script::cherokee:
    case Script::georgian:
      return true;
    case Script::latin:
    case Script::other:
      return false;
  }
  return false;
}

bool isASCII(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// Percent-encoding removed (kept as written when it is not valid), lower-cased, one trailing "."
// dropped.
std::string cleaned(std::string_view host) {
  std::optional<std::string> decoded = PercentEncoding::decode(host);
  std::string result = Text::lowercased(decoded ? std::string_view(*decoded) : host);
  if (!result.empty() && result.back() == '.') result.pop_back();
  return result;
}

std::optional<HostForms> formsOfCleaned(const std::string& host) {
  if (host.empty()) return std::nullopt;
  std::optional<std::string> ascii = Punycode::toASCIIHost(host);
  if (!ascii) return std::nullopt;
  std::optional<std::string> unicode = Punycode::toUnicodeHost(*ascii);
  if (!unicode) return std::nullopt;
  return HostForms{std::move(*unicode), std::move(*ascii)};
}

// A DNS name holds labels of at most 63 bytes and at most 253 bytes in all, in its ASCII form.
constexpr std::size_t kMaxLabelBytes = 63;
constexpr std::size_t kMaxHostBytes = 253;

// True when the ASCII form of the (cleaned) host cannot fit those limits. Every code point takes
// at least one byte of the ASCII form, so counting code points decides it for long text in one
// pass, before any conversion: Punycode takes time quadratic in a label's length.
bool exceedsDNSLimits(std::string_view host) {
  std::size_t hostCount = 0, labelCount = 0;
  for (char c : host) {
    if ((static_cast<unsigned char>(c) & 0xC0) == 0x80) continue;  // a UTF-8 continuation byte
    ++hostCount;
    labelCount = c == '.' ? 0 : labelCount + 1;
    if (labelCount > kMaxLabelBytes || hostCount > kMaxHostBytes) return true;
  }
  return false;
}

bool exceedsDNSLimits(const HostForms& forms) {
  if (forms.ascii.size() > kMaxHostBytes) return true;
  for (std::string_view label : Text::split(forms.ascii, '.')) {
    if (label.size() > kMaxLabelBytes) return true;
  }
  return false;
}

bool mixesAlphabets(const std::set<Script>& found) {
  int lookAlikes = 0;
  for (Script script : found) lookAlikes += isLookAlike(script) ? 1 : 0;
  return found.count(Script::latin) ? lookAlikes >= 1 : lookAlikes >= 2;
}

// True for what a name is written with: letters, combining marks and digits. Anything else
// beyond ASCII (symbols, punctuation such as U+2044 FRACTION SLASH, spaces, invisible format
// characters, unassigned code points) has no business in a name and can fake its structure:
// "bank.example⁄login" is one label, not a host and a path.
bool isNameCharacter(char32_t c) {
  if (c < 0x80) return true;
  switch (u_charType(static_cast<UChar32>(c))) {
    case U_UPPERCASE_LETTER:
    case U_LOWERCASE_LETTER:
    case U_TITLECASE_LETTER:
    case U_MODIFIER_LETTER:
    case U_OTHER_LETTER:
    case U_NON_SPACING_MARK:
    case U_ENCLOSING_MARK:
    case U_COMBINING_SPACING_MARK:
    case U_DECIMAL_DIGIT_NUMBER:
      return true;
    default:
      return false;
  }
}

std::string codePointName(char32_t c) {
  char text[16];
  std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(c));
  return text;
}

Finding finding(std::string_view code, std::string_view label, std::string excerpt) {
  return Finding{std::string(code), L10n::tr(label), std::move(excerpt), Finding::Kind::domain,
                 LinkSafety::severityOf(code)};
}

}  // namespace

std::string_view toString(Script script) {
  switch (script) {
    case Script::latin:
      return "latin";
    case Script::greek:
      return "greek";
    case Script::cyrillic:
      return "cyrillic";
    case Script::armenian:
      return "armenian";
    case Script::cherokee:
      return "cherokee";
    case Script::georgian:
      return "georgian";
    case Script::other:
      return "other";
  }
  return "other";
}

std::optional<Script> scriptFromString(std::string_view text) {
  for (Script script : kAllScripts) {
    if (toString(script) == text) return script;
  }
  return std::nullopt;
}

std::string name(Script script) {
  switch (script) {
    case Script::latin:
      return L10n::tr("Latin");
    case Script::greek:
      return L10n::tr("Greek");
    case Script::cyrillic:
      return L10n::tr("Cyrillic");
    case Script::armenian:
      return L10n::tr("Armenian");
    case Script::cherokee:
      return L10n::tr("Cherokee");
    case Script::georgian:
      return L10n::tr("Georgian");
    case Script::other:
      return L10n::tr("other");
  }
  return L10n::tr("other");
}

std::optional<HostForms> forms(std::string_view host) {
  return formsOfCleaned(cleaned(host));
}

std::optional<Script> script(char32_t c) {
  auto in = [c](char32_t low, char32_t high) { return c >= low && c <= high; };
  if (in('0', '9') || c == '-' || c == '_') return std::nullopt;
  if (in('A', 'Z') || in('a', 'z') || in(0xC0, 0xD6) || in(0xD8, 0xF6) || in(0xF8, 0x2AF) ||
      in(0x1D00, 0x1D7F) || in(0x1E00, 0x1EFF)) {
    return Script::latin;
  }
  if (in(0x370, 0x3FF) || in(0x1F00, 0x1FFF)) return Script::greek;
  if (in(0x400, 0x52F) || in(0xA640, 0xA69F) || in(0x1C80, 0x1C8F) || in(0x2DE0, 0x2DFF)) {
    return Script::cyrillic;
  }
  if (in(0x530, 0x58F)) return Script::armenian;
  if (in(0x10A0, 0x10FF) || in(0x1C90, 0x1CBF)) return Script::georgian;
  if (in(0x13A0, 0x13FF) || in(0xAB70, 0xABBF)) return Script::cherokee;
  if (c <= 0x10FFFF && u_isUAlphabetic(static_cast<UChar32>(c))) return Script::other;
  return std::nullopt;
}

std::set<Script> scripts(std::string_view label) {
  std::set<Script> found;
  for (char32_t c : Text::codePoints(label)) {
    if (std::optional<Script> s = script(c)) found.insert(*s);
  }
  return found;
}

const std::unordered_map<char32_t, char>& confusables() {
  static const auto& table = *new std::unordered_map<char32_t, char>{
      // Cyrillic
      {0x0430, 'a'},
      {0x0441, 'c'},
      {0x0501, 'd'},
      {0x0435, 'e'},
      {0x0450, 'e'},
      {0x0451, 'e'},
      {0x050D, 'g'},
      {0x04BB, 'h'},
      {0x0456, 'i'},
      {0x0457, 'i'},
      {0x0458, 'j'},
      {0x04CF, 'l'},
      {0x043E, 'o'},
      {0x0440, 'p'},
      {0x051B, 'q'},
      {0x0455, 's'},
      {0x051D, 'w'},
      {0x0461, 'w'},
      {0x0445, 'x'},
      {0x0443, 'y'},
      {0x04AF, 'y'},
      {0x0475, 'v'},
      // Greek
      {0x03B1, 'a'},
      {0x03F2, 'c'},
      {0x03B5, 'e'},
      {0x03B7, 'n'},
      {0x03B9, 'i'},
      {0x03AF, 'i'},
      {0x03F3, 'j'},
      {0x03BA, 'k'},
      {0x03BD, 'v'},
      {0x03BF, 'o'},
      {0x03CC, 'o'},
      {0x03C1, 'p'},
      {0x03C5, 'u'},
      {0x03C7, 'x'},
      {0x03B3, 'y'},
      // Armenian
      {0x0561, 'w'},
      {0x0563, 'q'},
      {0x0566, 'q'},
      {0x0570, 'h'},
      {0x0578, 'n'},
      {0x057C, 'n'},
      {0x057D, 'u'},
      {0x0581, 'g'},
      {0x0584, 'f'},
      {0x0585, 'o'},
      {0x0575, 'j'},
      // Latin beyond ASCII
      {0x0131, 'i'},
      {0x0269, 'i'},
      {0x0237, 'j'},
      {0x0251, 'a'},
      {0x0261, 'g'},
      {0x0262, 'g'},
      {0x028F, 'y'},
      {0x01C0, 'l'},
      {0x029F, 'l'},
      {0x0280, 'r'},
      {0x0299, 'b'},
      {0x029C, 'h'},
      {0x0274, 'n'},
      // Latin small capitals
      {0x1D0F, 'o'},
      {0x1D1C, 'u'},
      {0x1D20, 'v'},
      {0x1D21, 'w'},
      {0x1D22, 'z'},
      {0x1D0B, 'k'},
      {0x1D18, 'p'},
      {0x1D1B, 't'},
  };
  return table;
}

std::optional<std::string> skeletonOfLabel(std::string_view label) {
  if (isASCII(label)) return std::nullopt;
  const auto& table = confusables();
  std::string result;
  for (char32_t c : Text::codePoints(Text::lowercased(label))) {
    if (c < 0x80) {
      result += static_cast<char>(c);
      continue;
    }
    auto found = table.find(c);
    if (found == table.end()) return std::nullopt;
    result += found->second;
  }
  return result;
}

std::optional<std::string> skeletonOfHost(std::string_view host) {
  std::vector<std::string> labels;
  bool any = false;
  for (std::string_view label : Text::split(host, '.')) {
    std::optional<std::string> skeleton = skeletonOfLabel(label);
    any = any || skeleton.has_value();
    labels.push_back(skeleton ? std::move(*skeleton) : std::string(label));
  }
  if (!any) return std::nullopt;
  return Text::join(labels, ".");
}

std::vector<Finding> inspectHost(std::string_view host) {
  std::string name = cleaned(host);
  std::vector<Finding> findings;
  // No name in DNS holds a control, but a decoded one can rewrite what a terminal or a window
  // shows around it ("bank.example" + U+202E). The excerpt is the host as it is (its beginning
  // when long): whoever shows it escapes it (DisplayText), which makes the controls visible.
  const std::u32string codePoints = Text::codePoints(name);
  if (std::any_of(codePoints.begin(), codePoints.end(), DisplayText::isControl)) {
    const std::string_view start = Text::prefix(name, 80);
    findings.push_back(finding("control-character", "host name with control characters",
                               std::string(start) + (start.size() < name.size() ? "…" : "")));
  }
  // An empty host is no malformed international name: there is nothing to warn about.
  if (name.empty() || name.front() == '[' || PublicSuffixList::isIPAddress(name)) return findings;

  // No such host can be looked up; the excerpt shows its beginning and its length.
  auto tooLong = [&name] {
    std::string_view start = Text::prefix(name, 40);
    return finding("too-long", "host name longer than DNS allows",
                   std::string(start) + (start.size() < name.size() ? "…" : "") + " (" +
                       std::to_string(name.size()) + " bytes)");
  };
  const auto alone = [&findings](Finding other) {
    findings.push_back(std::move(other));
    return findings;
  };
  if (exceedsDNSLimits(name)) return alone(tooLong());
  std::optional<HostForms> hostForms = formsOfCleaned(name);
  if (!hostForms) {
    return alone(finding("bad-punycode", "malformed international domain name", name));
  }
  if (exceedsDNSLimits(*hostForms)) return alone(tooLong());
  if (!hostForms->isInternational()) return findings;

  findings.push_back(
      finding("idn", "international domain name", hostForms->unicode + " = " + hostForms->ascii));
  for (std::string_view label : Text::split(hostForms->unicode, '.')) {
    if (label.empty()) continue;
    std::set<Script> found = scripts(label);
    if (!mixesAlphabets(found)) continue;
    std::vector<std::string> names;
    for (Script script : found) names.push_back(DomainSafety::name(script));
    findings.push_back(finding("mixed-script", "mixes alphabets",
                               std::string(label) + " (" + Text::join(names, " + ") + ")"));
  }
  if (std::optional<std::string> skeleton = skeletonOfHost(hostForms->unicode)) {
    findings.push_back(finding("lookalike", "looks like", std::move(*skeleton)));
  }
  std::vector<std::string> unusual;
  for (char32_t c : Text::codePoints(hostForms->unicode)) {
    if (isNameCharacter(c)) continue;
    std::string name = codePointName(c);
    if (std::find(unusual.begin(), unusual.end(), name) == unusual.end()) {
      unusual.push_back(std::move(name));
    }
  }
  if (!unusual.empty()) {
    findings.push_back(finding("unusual-character", "characters that are no letters",
                               hostForms->ascii + " (" + Text::join(unusual, ", ") + ")"));
  }
  return findings;
}

std::vector<Finding> inspect(const URL& url) {
  // The encoded host, decoded once by inspectHost: decoding the decoded host again would let
  // "%2541" pass for "a".
  std::optional<std::string> host = url.percentEncodedHost();
  if (!host || host->empty()) return {};
  return inspectHost(*host);
}

}  // namespace linkferry::DomainSafety
