#pragma once

#include <optional>
#include <string>
#include <string_view>

// Conversion of host names between their Unicode form and their ASCII ("xn--") form: RFC 3492
// Punycode (base 36, tmin 1, tmax 26, skew 38, damp 700, initial bias 72, initial code point 128,
// delimiter "-") with the IDNA ACE prefix. No NFC or UTS #46 mapping happens here: a label is
// encoded exactly as given (after lower-casing where stated). All functions are pure and may be
// called from any thread.
namespace linkferry::Punycode {

inline constexpr std::string_view acePrefix = "xn--";

// RFC 3492 encoding of one UTF-8 label without prefix: "bcher-kva" for "bücher". The basic (ASCII)
// code points are copied first, followed by "-" when there was at least one. Nothing when the
// text is not valid UTF-8 or the arithmetic would pass 2,147,483,647 (very long labels).
std::optional<std::string> encode(std::string_view label);

// RFC 3492 decoding of one label without prefix, to UTF-8. The basic part is everything before the
// last "-"; digits are read case-insensitively. Nothing for a non-ASCII basic part, a character
// that is no base-36 digit, an overflow past 2,147,483,647, or a decoded code point below 128, in
// the surrogate range or from U+110000 up.
std::optional<std::string> decode(std::string_view label);

// The label lower-cased and, when it holds any character above U+007F, encoded with the "xn--"
// prefix. Nothing when encoding fails.
std::optional<std::string> toASCIILabel(std::string_view label);
// The label lower-cased and, when it begins with "xn--", decoded. Nothing when decoding fails.
std::optional<std::string> toUnicodeLabel(std::string_view label);

// Every "."-separated label converted as above (empty labels kept); nothing when any label fails.
std::optional<std::string> toASCIIHost(std::string_view host);
std::optional<std::string> toUnicodeHost(std::string_view host);

}  // namespace linkferry::Punycode
