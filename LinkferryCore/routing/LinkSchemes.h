#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace linkferry {

// A URL scheme LinkFerry knows besides web links, with the title the user sees for it.
// Identified by its scheme.
struct LinkScheme {
  std::string scheme;  // lower case, without ":"
  std::string title;

  bool operator==(const LinkScheme&) const = default;
};

// The link types LinkFerry can stand between the user and: mail, phone, chat, meetings, file
// transfer and the like, plus the rules for schemes the user adds. Fixed tables, built once;
// every operation answers for every input and may be called from any thread.
namespace LinkSchemes {

// The built-in catalogue, in the order it is shown (mail first).
const std::vector<LinkScheme>& all();

// Schemes that are never "other links" and can never be added by the user: the web's own, local
// files, LinkFerry's own schemes ("linkferry", "linkferry-helper") and those that carry code or
// data rather than point somewhere.
const std::set<std::string, std::less<>>& reserved();

// The built-in entry for `scheme`, compared after lower-casing; nothing for a missing scheme or
// one outside the catalogue.
std::optional<LinkScheme> find(const std::optional<std::string_view>& scheme);

// Whether a link of this scheme is handled as an "other link": a non-empty scheme (lower-cased)
// that is neither "mailto" (mail has its own routing) nor reserved. A missing scheme is not.
bool isOtherLink(const std::optional<std::string_view>& scheme);

// Whether the user may add this scheme: after ASCII lower-casing, 2 to 32 characters, not reserved,
// an ASCII letter first and then only ASCII letters, digits, "+", "." and "-" (the scheme syntax of
// RFC 3986, with a length limit).
bool isValidCustom(std::string_view scheme);

}  // namespace LinkSchemes
}  // namespace linkferry
