#include "foundation/Json.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <utility>

namespace linkferry {

namespace {

using Json_t = nlohmann::json;

// Documents nested deeper than this are refused. nlohmann's parser is iterative, but copying,
// comparing, encoding and our own recursive readers are not: a hostile file of a few kilobytes of
// "[" must not exhaust the stack anywhere later.
constexpr std::size_t kMaxDepth = 512;

// Where and why a parse failed; `offset` is a byte offset into the text.
struct SyntaxFailure {
  std::size_t offset = 0;
  std::string message;
};

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// nlohmann's token names as they appear in its messages, in words a user understands.
std::string tokenInWords(std::string_view token) {
  if (token == "end of input") return "end of input";
  if (token == "string literal") return "string";
  if (token == "number literal") return "number";
  if (token == "true literal") return "true";
  if (token == "false literal") return "false";
  if (token == "null literal") return "null";
  if (token == "'[', '{', or a literal") return "a value";
  if (token.size() == 3 && token.front() == '\'' && token.back() == '\'') return std::string(token);
  return "token";
}

// Translates the text of one nlohmann parse error into a short sentence. nlohmann's own wording
// (and its "[json.exception...]" prefix) never reaches a user.
std::string translatedMessage(const nlohmann::detail::exception& error) {
  if (error.id == 406) return "number out of range";
  std::string_view text = error.what();
  const auto dash = text.find(" - ");
  std::string_view detail = dash == std::string_view::npos ? text : text.substr(dash + 3);

  if (startsWith(detail, "unexpected ")) {
    std::string_view rest = detail.substr(11);
    std::string_view expected;
    if (const auto semicolon = rest.find("; expected "); semicolon != std::string_view::npos) {
      expected = rest.substr(semicolon + 11);
      rest = rest.substr(0, semicolon);
    }
    if (expected == "end of input") return "unexpected " + tokenInWords(rest) + " after the value";
    std::string message = "unexpected " + tokenInWords(rest);
    if (expected == "string literal") {
      message += ", expected a string";
    } else if (!expected.empty()) {
      message += ", expected " + tokenInWords(expected);
    }
    return message;
  }
  if (startsWith(detail, "invalid string: missing closing quote")) return "unterminated string";
  if (startsWith(detail, "invalid string: control character"))
    return "control character in a string must be escaped";
  if (startsWith(detail, "invalid string: ill-formed UTF-8")) return "invalid UTF-8 in a string";
  if (startsWith(detail, "invalid string: '\\u'")) return "\\u must be followed by 4 hex digits";
  if (startsWith(detail, "invalid string: surrogate")) return "invalid surrogate pair in a string";
  if (startsWith(detail, "invalid string: forbidden character after backslash"))
    return "invalid escape sequence in a string";
  if (startsWith(detail, "invalid string")) return "invalid string";
  if (startsWith(detail, "invalid number")) return "invalid number";
  if (startsWith(detail, "invalid literal")) return "invalid value";
  if (startsWith(detail, "invalid BOM")) return "invalid byte order mark";
  if (startsWith(detail, "invalid comment")) return "comments are not allowed";
  return "invalid JSON";
}

// The byte offset of the first "[" or "{" that opens level kMaxDepth + 1. Only called once the
// parser has read that far, so the text before it is well-formed JSON.
std::size_t offsetOfExcessNesting(std::string_view text) {
  std::size_t depth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxDepth) return i;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return text.size();
}

// Builds the document through nlohmann's DOM builder, but stops at the depth limit and keeps the
// position and text of a syntax error instead of throwing.
class LimitedBuilder {
 public:
  using number_integer_t = Json_t::number_integer_t;
  using number_unsigned_t = Json_t::number_unsigned_t;
  using number_float_t = Json_t::number_float_t;
  using string_t = Json_t::string_t;
  using binary_t = Json_t::binary_t;

  explicit LimitedBuilder(Json_t& result) : m_dom(result, false) {}

  bool null() { return m_dom.null(); }
  bool boolean(bool value) { return m_dom.boolean(value); }
  bool number_integer(number_integer_t value) { return m_dom.number_integer(value); }
  bool number_unsigned(number_unsigned_t value) { return m_dom.number_unsigned(value); }
  bool number_float(number_float_t value, const string_t& text) {
    return m_dom.number_float(value, text);
  }
  bool string(string_t& value) { return m_dom.string(value); }
  bool binary(binary_t& value) { return m_dom.binary(value); }
  bool start_object(std::size_t size) { return enter() && m_dom.start_object(size); }
  bool key(string_t& value) { return m_dom.key(value); }
  bool end_object() {
    --m_depth;
    return m_dom.end_object();
  }
  bool start_array(std::size_t size) { return enter() && m_dom.start_array(size); }
  bool end_array() {
    --m_depth;
    return m_dom.end_array();
  }
  bool parse_error(std::size_t position, const std::string& /*lastToken*/,
                   const nlohmann::detail::exception& error) {
    // `position` counts the characters read, the offending one included.
    m_failure = SyntaxFailure{position > 0 ? position - 1 : 0, translatedMessage(error)};
    return false;
  }

  bool tooDeep() const { return m_tooDeep; }
  const std::optional<SyntaxFailure>& failure() const { return m_failure; }

 private:
  bool enter() {
    if (++m_depth > kMaxDepth) {
      m_tooDeep = true;
      return false;
    }
    return true;
  }

  nlohmann::detail::json_sax_dom_parser<Json_t> m_dom;
  std::size_t m_depth = 0;
  bool m_tooDeep = false;
  std::optional<SyntaxFailure> m_failure;
};

// The document, or why it is not one. May throw std::bad_alloc only.
std::pair<std::optional<Json_t>, SyntaxFailure> parseDocument(std::string_view text) {
  Json_t result;
  LimitedBuilder builder(result);
  const bool ok = Json_t::sax_parse(text.begin(), text.end(), &builder,
                                    nlohmann::detail::input_format_t::json, true, false);
  if (ok && !builder.failure() && !builder.tooDeep()) return {std::move(result), {}};
  if (builder.tooDeep()) {
    return {std::nullopt,
            SyntaxFailure{offsetOfExcessNesting(text),
                          "nested deeper than " + std::to_string(kMaxDepth) + " levels"}};
  }
  if (builder.failure()) {
    SyntaxFailure failure = *builder.failure();
    // An unknown word ("tru", "yes") is reported where it begins, not where reading stopped.
    if (failure.message == "invalid value") {
      const auto isLetter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
      std::size_t start = std::min(failure.offset, text.size());
      while (start > 0 && isLetter(text[start - 1])) --start;
      failure.offset = start;
    }
    return {std::nullopt, std::move(failure)};
  }
  return {std::nullopt, SyntaxFailure{text.size(), "invalid JSON"}};
}

// Line and column (both from 1) of a byte offset; the column counts characters (code points).
std::pair<std::size_t, std::size_t> lineAndColumn(std::string_view text, std::size_t offset) {
  if (offset > text.size()) offset = text.size();
  std::size_t line = 1;
  std::size_t column = 1;
  for (std::size_t i = 0; i < offset; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\n') {
      ++line;
      column = 1;
    } else if ((byte & 0xC0) != 0x80) {
      ++column;
    }
  }
  return {line, column};
}

bool isPlainKey(std::string_view key) {
  if (key.empty()) return false;
  for (char c : key) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '_' || c == '-';
    if (!plain) return false;
  }
  return true;
}

std::string memberPath(const std::string& path, std::string_view key) {
  // Keys that would make the path ambiguous ("example.com", "a[1]") are written quoted.
  if (!isPlainKey(key)) return path + "[" + Json::encodeCompact(Json_t(std::string(key))) + "]";
  if (path.empty()) return std::string(key);
  return path + "." + std::string(key);
}

}  // namespace

JsonError::JsonError(std::string file, std::string path, std::string message)
    : m_file(std::move(file)), m_path(std::move(path)), m_message(std::move(message)) {
  m_text = m_file + ": ";
  if (!m_path.empty()) m_text += m_path + ": ";
  m_text += m_message;
}

namespace Json {

JsonValue parse(std::string_view text, std::string_view file) {
  auto [value, failure] = parseDocument(text);
  if (value) return std::move(*value);
  const auto [line, column] = lineAndColumn(text, failure.offset);
  throw JsonError(std::string(file),
                  "line " + std::to_string(line) + ", column " + std::to_string(column),
                  std::move(failure.message));
}

std::optional<JsonValue> tryParse(std::string_view text) noexcept {
  try {
    return std::move(parseDocument(text).first);
  } catch (...) {
    return std::nullopt;
  }
}

std::string encodePretty(const JsonValue& value) {
  std::string text = value.dump(2, ' ', false, Json_t::error_handler_t::replace);
  text += '\n';
  return text;
}

std::string encodeCompact(const JsonValue& value) {
  return value.dump(-1, ' ', false, Json_t::error_handler_t::replace);
}

std::string typeName(const JsonValue& value) {
  switch (value.type()) {
    case Json_t::value_t::null:
      return "null";
    case Json_t::value_t::boolean:
      return "a boolean";
    case Json_t::value_t::number_integer:
    case Json_t::value_t::number_unsigned:
    case Json_t::value_t::number_float:
      return "a number";
    case Json_t::value_t::string:
      return "a string";
    case Json_t::value_t::array:
      return "an array";
    case Json_t::value_t::object:
      return "an object";
    case Json_t::value_t::binary:
      return "binary data";
    case Json_t::value_t::discarded:
      return "nothing";
  }
  return "nothing";
}

}  // namespace Json

JsonReader::JsonReader(const JsonValue& value, std::string file, std::string path)
    : m_value(&value), m_file(std::move(file)), m_path(std::move(path)) {}

void JsonReader::fail(std::string_view message) const {
  throw JsonError(m_file, m_path, std::string(message));
}

bool JsonReader::has(std::string_view key) const {
  if (!m_value->is_object()) return false;
  const auto found = m_value->find(key);
  return found != m_value->end() && !found->is_null();
}

JsonReader JsonReader::operator[](std::string_view key) const {
  auto member = optional(key);
  if (!member) fail("missing key \"" + std::string(key) + "\"");
  return std::move(*member);
}

std::optional<JsonReader> JsonReader::optional(std::string_view key) const {
  if (!m_value->is_object()) fail("expected an object, got " + Json::typeName(*m_value));
  const auto found = m_value->find(key);
  if (found == m_value->end() || found->is_null()) return std::nullopt;
  return JsonReader(*found, m_file, memberPath(m_path, key));
}

std::vector<std::string> JsonReader::keys() const {
  if (!m_value->is_object()) fail("expected an object, got " + Json::typeName(*m_value));
  std::vector<std::string> result;
  result.reserve(m_value->size());
  for (const auto& item : m_value->items()) result.push_back(item.key());
  return result;
}

std::vector<JsonReader> JsonReader::elements() const {
  if (!m_value->is_array()) fail("expected an array, got " + Json::typeName(*m_value));
  std::vector<JsonReader> result;
  result.reserve(m_value->size());
  for (std::size_t i = 0; i < m_value->size(); ++i) {
    result.emplace_back((*m_value)[i], m_file, m_path + "[" + std::to_string(i) + "]");
  }
  return result;
}

std::string JsonReader::string() const {
  if (!m_value->is_string()) fail("expected a string, got " + Json::typeName(*m_value));
  return m_value->get<std::string>();
}

bool JsonReader::boolean() const {
  if (!m_value->is_boolean()) fail("expected a boolean, got " + Json::typeName(*m_value));
  return m_value->get<bool>();
}

std::int64_t JsonReader::integer() const {
  switch (m_value->type()) {
    case JsonValue::value_t::number_integer:
      return m_value->get<std::int64_t>();
    case JsonValue::value_t::number_unsigned: {
      const auto value = m_value->get<std::uint64_t>();
      if (value <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return static_cast<std::int64_t>(value);
      }
      break;
    }
    case JsonValue::value_t::number_float: {
      // 3.0 is an integer written with a fraction; 2^63 and beyond do not fit.
      const double value = m_value->get<double>();
      if (std::isfinite(value) && std::trunc(value) == value && value >= -0x1p63 &&
          value < 0x1p63) {
        return static_cast<std::int64_t>(value);
      }
      break;
    }
    default:
      fail("expected an integer, got " + Json::typeName(*m_value));
  }
  fail("expected an integer, got " + Json::encodeCompact(*m_value));
}

double JsonReader::number() const {
  if (!m_value->is_number()) fail("expected a number, got " + Json::typeName(*m_value));
  return m_value->get<double>();
}

}  // namespace linkferry
