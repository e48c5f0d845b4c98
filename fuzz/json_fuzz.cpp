// Arbitrary bytes through the JSON wrapper: parsing, the key-path reader and both encoders.
// Only JsonError may leave Json::parse and the reader; anything else escaping is a crash.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/Json.h"

namespace {

using linkferry::JsonError;
using linkferry::JsonReader;
using linkferry::JsonValue;

// Reads every value the way decoders do, one accessor after another, to the bottom.
void walk(const JsonReader& reader, int budget) {
  if (budget <= 0) return;
  try {
    reader.string();
  } catch (const JsonError&) {
  }
  try {
    reader.integer();
  } catch (const JsonError&) {
  }
  try {
    reader.number();
  } catch (const JsonError&) {
  }
  try {
    reader.boolean();
  } catch (const JsonError&) {
  }
  try {
    for (const auto& key : reader.keys()) {
      if (auto member = reader.optional(key)) walk(*member, budget - 1);
      (void)reader.has(key);
    }
    reader["a key that is never there"];
  } catch (const JsonError&) {
  }
  try {
    for (const auto& element : reader.elements()) walk(element, budget - 1);
  } catch (const JsonError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const auto quiet = linkferry::Json::tryParse(text);
  JsonValue value;
  try {
    value = linkferry::Json::parse(text, "fuzz.json");
  } catch (const JsonError& error) {
    // The two entry points must agree, and the error names the file and a position.
    if (quiet) __builtin_trap();
    if (std::string_view(error.what()).rfind("fuzz.json: line ", 0) != 0) __builtin_trap();
    return 0;
  }
  if (!quiet || *quiet != value) __builtin_trap();

  walk(JsonReader(value, "fuzz.json"), 64);

  // What we write must read back as the same document. Strings are the exception: invalid
  // UTF-8 cannot come from the parser, which refuses it.
  const std::string pretty = linkferry::Json::encodePretty(value);
  const std::string compact = linkferry::Json::encodeCompact(value);
  const auto again = linkferry::Json::tryParse(compact);
  if (!again || !linkferry::Json::tryParse(pretty)) __builtin_trap();
  if (linkferry::Json::encodeCompact(*again) != compact) __builtin_trap();
  return 0;
}
