#pragma once

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "foundation/URL.h"
#include "safety/LinkSafety.h"

// Warnings about a link's host that a user should see before opening it: controls in its name, a
// malformed international name, an international name at all, labels that mix alphabets, and names that
// imitate an ASCII name with look-alike letters. All functions are pure; the look-alike table is
// built once and may be read from any thread.
namespace linkferry::DomainSafety {

// A host in both of its forms.
struct HostForms {
  std::string unicode;
  std::string ascii;  // "xn--" labels where the Unicode form has non-ASCII ones

  bool isInternational() const { return unicode != ascii; }
  bool operator==(const HostForms&) const = default;
};

// The alphabets told apart when looking for mixed labels, in their display order.
enum class Script { latin, greek, cyrillic, armenian, cherokee, georgian, other };

std::string_view toString(Script script);  // "latin", "greek", ...
std::optional<Script> scriptFromString(std::string_view text);
// The localised display name: "Latin", "Greek", "Cyrillic", "Armenian", "Cherokee", "Georgian",
// "other".
std::string name(Script script);

// The host's Unicode and ASCII forms after removing percent-encoding (when it is valid),
// lower-casing and dropping one trailing ".". Nothing for an empty host or one whose labels do not
// convert (an "xn--" label that is no valid Punycode).
std::optional<HostForms> forms(std::string_view host);

// The alphabet of one character. Digits, "-" and "_" have none, nor have punctuation and
// symbols; an alphabetic character outside the listed alphabets is `other`.
std::optional<Script> script(char32_t scalar);
// The alphabets of all characters of a label.
std::set<Script> scripts(std::string_view label);

// Non-ASCII letters that look like an ASCII letter, mapped to that letter (69 entries).
const std::unordered_map<char32_t, char>& confusables();

// The ASCII name a label imitates: the label lower-cased with every look-alike replaced by its
// ASCII letter. Nothing for an all-ASCII label or one with a non-ASCII character that imitates
// nothing.
std::optional<std::string> skeletonOfLabel(std::string_view label);
// Each label replaced by its skeleton where it has one; nothing when no label has one.
std::optional<std::string> skeletonOfHost(std::string_view host);

// Findings of kind domain, in this order: "control-character" for a host that holds a control
// once decoded (C0, DEL, C1, a bidirectional control or a line separator: DisplayText::isControl),
// with the host as excerpt; then "too-long" (a label of the ASCII form longer than 63 bytes or the
// whole longer than 253) with nothing after it, or "bad-punycode" with nothing after it, or "idn",
// then "mixed-script" for each label that mixes alphabets, then "lookalike", then
// "unusual-character" when the Unicode form holds anything beyond ASCII that is no letter, mark or
// digit (a symbol, punctuation, a space, an invisible format character), its excerpt the ASCII
// form and the code points ("xn--… (U+2044)"). Only "idn" is a notice; the others are danger. Apart from
// "control-character", none for an empty host, an IP address or an IP literal ("[...]"), or a
// plain ASCII host within the limits. `host` may be percent-encoded. Linear in the length of the
// host.
std::vector<LinkSafety::Finding> inspectHost(std::string_view host);
// `inspectHost` of the URL's host; none when it has no host.
std::vector<LinkSafety::Finding> inspect(const URL& url);

}  // namespace linkferry::DomainSafety

template <>
struct std::hash<linkferry::DomainSafety::HostForms> {
  std::size_t operator()(const linkferry::DomainSafety::HostForms& forms) const noexcept {
    std::hash<std::string> text;
    std::size_t hash = text(forms.unicode);
    return hash ^ (text(forms.ascii) + 0x9e3779b97f4a7c15ull + (hash << 6) + (hash >> 2));
  }
};
