#pragma once

#include <optional>
#include <string>
#include <string_view>

// Base64 of RFC 4648. Decoding is strict: nothing for characters outside the alphabet, a wrong
// length, misplaced padding or non-zero bits left over in the last character.
namespace linkferry::Base64 {

std::string encode(std::string_view bytes);  // standard alphabet, "=" padding
std::optional<std::string> decode(std::string_view text);

// The URL-safe alphabet of RFC 4648 section 5 ("-" and "_"), without padding.
std::string encodeURLUnpadded(std::string_view bytes);
std::optional<std::string> decodeURLUnpadded(std::string_view text);

}  // namespace linkferry::Base64
