#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace linkferry {

// Keys of objects are kept sorted, so every encoding is in sorted-key order.
using JsonValue = nlohmann::json;

// A decoding failure: "<file>: <key path>: <message>" (the path is left out when empty), or for
// syntax errors "<file>: line L, column C: <message>". The key path looks like
// "rules[2].match.all[0]".
class JsonError : public std::exception {
 public:
  JsonError(std::string file, std::string path, std::string message);
  const char* what() const noexcept override { return m_text.c_str(); }
  const std::string& file() const { return m_file; }
  const std::string& path() const { return m_path; }
  const std::string& message() const { return m_message; }

 private:
  std::string m_file, m_path, m_message, m_text;
};

namespace Json {

// Parses one JSON document. Throws JsonError naming `file`, the line and the column (counted in
// characters, from 1). Documents nested deeper than 512 arrays or objects are refused.
JsonValue parse(std::string_view text, std::string_view file);
// Parses one JSON document; nothing on any error. Never throws.
std::optional<JsonValue> tryParse(std::string_view text) noexcept;

// Two-space indentation, sorted keys, "/" not escaped, non-ASCII written as UTF-8, a final newline.
// Invalid UTF-8 in strings is replaced by U+FFFD rather than failing.
std::string encodePretty(const JsonValue& value);
// No white space at all; otherwise as encodePretty, without the final newline.
std::string encodeCompact(const JsonValue& value);

// The JSON name of a value's type for messages: "a string", "a number", "an object", ...
std::string typeName(const JsonValue& value);

}  // namespace Json

// A read-only view of one value inside a document, with the key path that leads to it, so that
// every decoding failure can say where it happened. All accessors throw JsonError.
class JsonReader {
 public:
  JsonReader(const JsonValue& value, std::string file, std::string path = {});

  const JsonValue& value() const { return *m_value; }
  const std::string& file() const { return m_file; }
  const std::string& path() const { return m_path; }

  bool isNull() const { return m_value->is_null(); }
  bool isObject() const { return m_value->is_object(); }
  bool isArray() const { return m_value->is_array(); }
  bool isString() const { return m_value->is_string(); }

  // True when this is an object holding `key` with a value other than null.
  bool has(std::string_view key) const;
  // The member `key`; fails with "missing key" when it is absent or null, and with "expected an
  // object" when this is no object.
  JsonReader operator[](std::string_view key) const;
  // The member `key`, or nothing when it is absent or null; fails when this is no object.
  std::optional<JsonReader> optional(std::string_view key) const;
  // The keys of an object, sorted; fails when this is no object.
  std::vector<std::string> keys() const;
  // The elements of an array; fails when this is no array.
  std::vector<JsonReader> elements() const;

  std::string string() const;
  bool boolean() const;
  std::int64_t integer() const;  // a JSON number without fraction that fits
  double number() const;

  // Throws JsonError for this value's path.
  [[noreturn]] void fail(std::string_view message) const;

 private:
  const JsonValue* m_value;
  std::string m_file;
  std::string m_path;
};

}  // namespace linkferry
