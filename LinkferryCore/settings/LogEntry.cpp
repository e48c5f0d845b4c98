#include "settings/LogEntry.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <cmath>
#include <utility>

#include "foundation/Text.h"

namespace linkferry {
namespace {

// The length of the well-formed UTF-8 sequence that starts at `i` with a byte above 0x7F (no
// overlong forms, surrogates or values past U+10FFFF); 0 when there is none.
std::size_t sequenceLength(std::string_view text, std::size_t i) {
  const auto byte = static_cast<unsigned char>(text[i]);
  std::size_t length;
  unsigned char low = 0x80, high = 0xBF;
  if (byte >= 0xC2 && byte <= 0xDF) {
    length = 2;
  } else if (byte >= 0xE0 && byte <= 0xEF) {
    length = 3;
    if (byte == 0xE0) low = 0xA0;
    if (byte == 0xED) high = 0x9F;
  } else if (byte >= 0xF0 && byte <= 0xF4) {
    length = 4;
    if (byte == 0xF0) low = 0x90;
    if (byte == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  const auto second = static_cast<unsigned char>(text[i + 1]);
  if (second < low || second > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if (next < 0x80 || next > 0xBF) return 0;
  }
  return length;
}

// Whether any of eight bytes is a control character, '"', '\\' or above 0x7F: the bytes a
// plain copy cannot take. May answer true for a word that holds none after such a byte, never
// false for one that holds one.
bool needsCare(std::uint64_t word) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kHigh = 0x8080808080808080ull;
  auto hasZeroByte = [](std::uint64_t x) { return (x - kOnes) & ~x & kHigh; };
  const std::uint64_t control = (word - kOnes * 0x20) & ~word & kHigh;
  return (control | hasZeroByte(word ^ (kOnes * '"')) | hasZeroByte(word ^ (kOnes * '\\')) |
          (word & kHigh)) != 0;
}

// One pass over the text, eight bytes at a time through plain ASCII.
void appendString(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  const std::size_t rollback = out.size();
  out += '"';
  std::size_t plainStart = 0;
  std::size_t i = 0;
  const std::size_t size = text.size();
  while (i < size) {
    if (i + 8 <= size) {
      std::uint64_t word;
      std::memcpy(&word, text.data() + i, 8);
      if (!needsCare(word)) {
        i += 8;
        continue;
      }
    }
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const std::size_t length = sequenceLength(text, i);
      if (length == 0) {
        // Rare: let the generic encoder replace what is not UTF-8, so both write the same.
        out.resize(rollback);
        out += Json::encodeCompact(JsonValue(std::string(text)));
        return;
      }
      i += length;
      continue;
    }
    if (c >= 0x20 && c != '"' && c != '\\') {
      ++i;
      continue;
    }
    out.append(text.data() + plainStart, i - plainStart);
    plainStart = ++i;
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        out += "\\u00";
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
        break;
    }
  }
  out.append(text.data() + plainStart, size - plainStart);
  out += '"';
}

// `"key":`, after a comma unless it is the object's first member.
void appendKey(std::string& out, std::string_view key, bool first = false) {
  if (!first) out += ',';
  out += '"';
  out += key;
  out += "\":";
}

void appendOptional(std::string& out, std::string_view key,
                    const std::optional<std::string>& value) {
  if (!value) return;
  appendKey(out, key);
  appendString(out, *value);
}

// Shortest text that reads back as the same double. A whole number is written without a
// fraction, as the generic encoder does ("3.0"); both read back equal.
void appendNumber(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  char buffer[64];
  auto [end, error] = std::to_chars(buffer, buffer + sizeof(buffer), value);
  (void)error;
  out.append(buffer, end);
}

void appendTarget(std::string& out, const BrowserTarget& target) {
  out += '{';
  appendKey(out, "browser", true);
  appendString(out, target.browser);
  appendOptional(out, "profile", target.profile);
  appendOptional(out, "container", target.container);
  if (target.privateMode) {
    appendKey(out, "privateMode");
    out += "true";
  }
  out += '}';
}

// The members in any order: readers do not depend on it.
void appendObject(std::string& out, const LogEntry& entry) {
  out += '{';
  appendKey(out, "id", true);
  out += '"';
  out += entry.id.string();
  out += '"';
  appendKey(out, "url");
  appendString(out, entry.url.absoluteString());
  appendOptional(out, "sourceApp", entry.sourceApp);
  appendOptional(out, "sourceWindow", entry.sourceWindow);
  appendKey(out, "receivedAt");
  appendNumber(out, entry.receivedAt.secondsSinceReferenceDate());
  appendKey(out, "status");
  out += '"';
  out += toString(entry.status);
  out += '"';
  if (entry.target) {
    appendKey(out, "target");
    appendTarget(out, *entry.target);
  }
  appendOptional(out, "reason", entry.reason);
  appendKey(out, "trace");
  out += '[';
  for (std::size_t i = 0; i < entry.trace.size(); ++i) {
    if (i > 0) out += ',';
    appendString(out, entry.trace[i]);
  }
  out += "]}";
}

void boundOptional(std::optional<std::string>& text) {
  if (text) *text = LogEntry::boundedText(*text);
}

// "… (N more lines)": the count of the lines a shortened trace left out; nothing for any other
// line.
std::optional<std::size_t> omittedLines(std::string_view line) {
  constexpr std::string_view kStart = "\u2026 (", kEnd = " more lines)";
  if (!line.starts_with(kStart) || !line.ends_with(kEnd)) return std::nullopt;
  const std::string_view digits =
      line.substr(kStart.size(), line.size() - kStart.size() - kEnd.size());
  std::size_t count = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), count);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return count;
}

// A reader of log.json written for the log's own shape, building the entries without a JSON tree
// in between (which needs several times the file's size). It is strict: anything beyond what a
// writer of the log produces (a member it does not know, a member twice, a null, a byte-order
// mark) makes it give up, and the generic parser then decides, so both accept the same files and
// read them the same, and every error comes from the generic one.
class CompactReader {
 public:
  explicit CompactReader(std::string_view text) : m_text(text) {}

  bool read(std::vector<LogEntry>& entries) {
    return array([&] {
      std::optional<LogEntry> entry = readEntry();
      if (!entry) return false;
      entries.push_back(std::move(*entry));
      return true;
    });
  }

  bool scan(std::vector<LogFile::StoredEntry>& entries) {
    return array([&] {
      const std::size_t start = m_at;
      LogFile::StoredEntry entry;
      if (!scanEntry(entry)) return false;
      entry.text = m_text.substr(start, m_at - start);
      entries.push_back(entry);
      return true;
    });
  }

  // Exactly one entry and nothing around it but white space.
  std::optional<LogEntry> single() {
    space();
    std::optional<LogEntry> entry = readEntry();
    if (!entry || !finished()) return std::nullopt;
    return entry;
  }

 private:
  // "[" elements "]", each read by `element`, and nothing after but white space.
  template <typename Element>
  bool array(Element&& element) {
    space();
    if (!take('[')) return false;
    space();
    if (take(']')) return finished();
    do {
      space();
      if (!element()) return false;
      space();
    } while (take(','));
    return take(']') && finished();
  }

  bool finished() {
    space();
    return m_at == m_text.size();
  }
  void space() {
    while (m_at < m_text.size()) {
      const char c = m_text[m_at];
      if (c != ' ' && c != '\n' && c != '\r' && c != '\t') return;
      ++m_at;
    }
  }
  bool take(char c) {
    if (m_at >= m_text.size() || m_text[m_at] != c) return false;
    ++m_at;
    return true;
  }
  bool peek(char c) const { return m_at < m_text.size() && m_text[m_at] == c; }

  // Four hexadecimal digits of a "\u" escape.
  std::optional<std::uint32_t> hex4() {
    if (m_at + 4 > m_text.size()) return std::nullopt;
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = m_text[m_at++];
      value <<= 4;
      if (c >= '0' && c <= '9') {
        value |= static_cast<std::uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        value |= static_cast<std::uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        value |= static_cast<std::uint32_t>(c - 'A' + 10);
      } else {
        return std::nullopt;
      }
    }
    return value;
  }

  static void appendUTF8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  // A string: well-formed UTF-8, no raw control character, only JSON's escapes. Its text between
  // the quotes as written; `escaped` says whether it holds an escape (see `unescape`).
  std::optional<std::string_view> rawString(bool& escaped) {
    if (!take('"')) return std::nullopt;
    escaped = false;
    const std::size_t start = m_at;
    while (true) {
      if (m_at >= m_text.size()) return std::nullopt;
      const auto c = static_cast<unsigned char>(m_text[m_at]);
      if (c == '"') {
        ++m_at;
        return m_text.substr(start, m_at - 1 - start);
      }
      if (c < 0x20) return std::nullopt;
      if (c >= 0x80) {
        const std::size_t length = sequenceLength(m_text, m_at);
        if (length == 0) return std::nullopt;
        m_at += length;
        continue;
      }
      ++m_at;
      if (c != '\\') continue;
      escaped = true;
      if (m_at >= m_text.size()) return std::nullopt;
      switch (m_text[m_at++]) {
        case '"':
        case '\\':
        case '/':
        case 'b':
        case 'f':
        case 'n':
        case 'r':
        case 't':
          break;
        case 'u': {
          std::optional<std::uint32_t> code = hex4();
          if (!code || (*code >= 0xDC00 && *code <= 0xDFFF)) return std::nullopt;
          if (*code >= 0xD800 && *code <= 0xDBFF) {
            if (!take('\\') || !take('u')) return std::nullopt;
            std::optional<std::uint32_t> low = hex4();
            if (!low || *low < 0xDC00 || *low > 0xDFFF) return std::nullopt;
          }
          break;
        }
        default:
          return std::nullopt;
      }
    }
  }

  // The text of a string `rawString` accepted with escapes.
  static std::string unescape(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] != '\\') {
        out += raw[i];
        continue;
      }
      const char escape = raw[++i];
      switch (escape) {
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          std::uint32_t code = hex4At(raw, i + 1);
          i += 4;
          if (code >= 0xD800 && code <= 0xDBFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (hex4At(raw, i + 3) - 0xDC00);
            i += 6;
          }
          appendUTF8(out, code);
          break;
        }
        default:  // '"', '\\', '/'
          out += escape;
          break;
      }
    }
    return out;
  }

  // Four hexadecimal digits `rawString` checked already.
  static std::uint32_t hex4At(std::string_view raw, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t k = at; k < at + 4; ++k) {
      const char c = raw[k];
      value <<= 4;
      if (c >= '0' && c <= '9') {
        value |= static_cast<std::uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        value |= static_cast<std::uint32_t>(c - 'a' + 10);
      } else {
        value |= static_cast<std::uint32_t>(c - 'A' + 10);
      }
    }
    return value;
  }

  std::optional<std::string> string() {
    bool escaped = false;
    std::optional<std::string_view> raw = rawString(escaped);
    if (!raw) return std::nullopt;
    return escaped ? unescape(*raw) : std::string(*raw);
  }

  // A string's text without copying it when it holds no escape (`scratch` holds it otherwise).
  std::optional<std::string_view> stringView(std::string& scratch) {
    bool escaped = false;
    std::optional<std::string_view> raw = rawString(escaped);
    if (!raw || !escaped) return raw;
    scratch = unescape(*raw);
    return std::string_view(scratch);
  }

  bool skipString() {
    bool escaped = false;
    return rawString(escaped).has_value();
  }

  // A number in JSON's grammar, converted as the generic parser converts it: a whole number
  // that fits 64 bits through that integer, anything else as the nearest double.
  std::optional<double> number() {
    const std::size_t start = m_at;
    auto digits = [&] {
      const std::size_t from = m_at;
      while (m_at < m_text.size() && m_text[m_at] >= '0' && m_text[m_at] <= '9') ++m_at;
      return m_at - from;
    };
    take('-');
    if (peek('0')) {
      ++m_at;
    } else if (digits() == 0) {
      return std::nullopt;
    }
    bool whole = true;
    if (take('.')) {
      whole = false;
      if (digits() == 0) return std::nullopt;
    }
    if (take('e') || take('E')) {
      whole = false;
      if (!take('+')) take('-');
      if (digits() == 0) return std::nullopt;
    }
    const char* first = m_text.data() + start;
    const char* last = m_text.data() + m_at;
    if (whole) {
      std::int64_t signedValue = 0;
      if (auto [end, error] = std::from_chars(first, last, signedValue);
          error == std::errc() && end == last) {
        return static_cast<double>(signedValue);
      }
      std::uint64_t unsignedValue = 0;
      if (auto [end, error] = std::from_chars(first, last, unsignedValue);
          error == std::errc() && end == last) {
        return static_cast<double>(unsignedValue);
      }
    }
    double value = 0;
    auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last || !std::isfinite(value)) return std::nullopt;
    return value;
  }

  std::optional<bool> boolean() {
    if (m_text.substr(m_at).starts_with("true")) {
      m_at += 4;
      return true;
    }
    if (m_text.substr(m_at).starts_with("false")) {
      m_at += 5;
      return false;
    }
    return std::nullopt;
  }

  // The members of an object, each key once and known to `member`, which reads its value.
  template <typename Member>
  bool object(Member&& member) {
    if (!take('{')) return false;
    space();
    if (take('}')) return true;
    std::uint32_t seen = 0;
    do {
      space();
      std::string scratch;
      std::optional<std::string_view> key = stringView(scratch);
      if (!key) return false;
      space();
      if (!take(':')) return false;
      space();
      const int index = member(*key);
      if (index < 0 || (seen & (1u << index)) != 0) return false;
      seen |= 1u << index;
      space();
    } while (take(','));
    return take('}');
  }

  bool optionalString(std::optional<std::string>& out) {
    out = string();
    return out.has_value();
  }

  std::optional<BrowserTarget> target() {
    BrowserTarget target;
    bool browser = false;
    const bool ok = object([&](std::string_view key) -> int {
      if (key == "browser") {
        std::optional<std::string> name = string();
        if (!name) return -1;
        target.browser = std::move(*name);
        browser = true;
        return 0;
      }
      if (key == "profile") return optionalString(target.profile) ? 1 : -1;
      if (key == "container") return optionalString(target.container) ? 2 : -1;
      if (key == "privateMode") {
        std::optional<bool> value = boolean();
        if (!value) return -1;
        target.privateMode = *value;
        return 3;
      }
      return -1;
    });
    if (!ok || !browser) return std::nullopt;
    return target;
  }

  std::optional<LogEntry> readEntry() {
    std::optional<Uuid> id;
    std::optional<URL> url;
    std::optional<std::string> sourceApp, sourceWindow, reason;
    std::optional<double> receivedAt;
    std::optional<DecisionStatus> status;
    std::optional<BrowserTarget> target;
    std::optional<std::vector<std::string>> trace;
    const bool ok = object([&](std::string_view key) -> int {
      if (key == "id") {
        std::optional<std::string> text = string();
        if (text) id = Uuid::parse(*text);
        return id ? 0 : -1;
      }
      if (key == "url") {
        std::optional<std::string> text = string();
        if (text) url = URL::parse(*text);
        return url ? 1 : -1;
      }
      if (key == "sourceApp") return optionalString(sourceApp) ? 2 : -1;
      if (key == "sourceWindow") return optionalString(sourceWindow) ? 3 : -1;
      if (key == "receivedAt") {
        receivedAt = number();
        return receivedAt ? 4 : -1;
      }
      if (key == "status") {
        std::optional<std::string> text = string();
        if (text) status = decisionStatusFromString(*text);
        return status ? 5 : -1;
      }
      if (key == "target") {
        target = this->target();
        return target ? 6 : -1;
      }
      if (key == "reason") return optionalString(reason) ? 7 : -1;
      if (key == "trace") {
        if (!take('[')) return -1;
        trace.emplace();
        space();
        if (take(']')) return 8;
        do {
          space();
          std::optional<std::string> line = string();
          if (!line) return -1;
          trace->push_back(std::move(*line));
          space();
        } while (take(','));
        return take(']') ? 8 : -1;
      }
      return -1;
    });
    if (!ok || !id || !url || !receivedAt || !status || !trace) return std::nullopt;
    return LogEntry(*id, std::move(*url), std::move(sourceApp), std::move(sourceWindow),
                    Date::fromSecondsSinceReferenceDate(*receivedAt), *status, std::move(target),
                    std::move(reason), std::move(*trace));
  }

  // What `readEntry` accepts, checked without building the entry: only what the log's
  // bookkeeping needs is kept.
  bool scanEntry(LogFile::StoredEntry& entry) {
    bool id = false, url = false, receivedAt = false, status = false, trace = false;
    std::string scratch;
    const bool ok = object([&](std::string_view key) -> int {
      if (key == "id") {
        std::optional<std::string_view> text = stringView(scratch);
        std::optional<Uuid> parsed = text ? Uuid::parse(*text) : std::nullopt;
        if (parsed) entry.id = *parsed;
        id = parsed.has_value();
        return id ? 0 : -1;
      }
      if (key == "url") {
        std::optional<std::string_view> text = stringView(scratch);
        url = text && URL::parse(*text).has_value();
        return url ? 1 : -1;
      }
      if (key == "sourceApp") return skipString() ? 2 : -1;
      if (key == "sourceWindow") return skipString() ? 3 : -1;
      if (key == "receivedAt") {
        std::optional<double> seconds = number();
        if (seconds) entry.receivedAt = Date::fromSecondsSinceReferenceDate(*seconds);
        receivedAt = seconds.has_value();
        return receivedAt ? 4 : -1;
      }
      if (key == "status") {
        std::optional<std::string_view> text = stringView(scratch);
        std::optional<DecisionStatus> parsed =
            text ? decisionStatusFromString(*text) : std::nullopt;
        if (parsed) entry.status = *parsed;
        status = parsed.has_value();
        return status ? 5 : -1;
      }
      if (key == "target") {
        entry.target = target();
        return entry.target ? 6 : -1;
      }
      if (key == "reason") return skipString() ? 7 : -1;
      if (key == "trace") {
        if (!take('[')) return -1;
        trace = true;
        entry.traced = false;
        space();
        if (take(']')) return 8;
        entry.traced = true;
        do {
          space();
          if (!skipString()) return -1;
          space();
        } while (take(','));
        return take(']') ? 8 : -1;
      }
      return -1;
    });
    return ok && id && url && receivedAt && status && trace;
  }

  std::string_view m_text;
  std::size_t m_at = 0;
};

std::optional<std::string> optionalString(const JsonReader& json, std::string_view key) {
  if (auto member = json.optional(key)) return member->string();
  return std::nullopt;
}

}  // namespace

std::string_view toString(DecisionStatus status) {
  switch (status) {
    case DecisionStatus::pending:
      return "pending";
    case DecisionStatus::routed:
      return "routed";
    case DecisionStatus::picked:
      return "picked";
    case DecisionStatus::cancelled:
      return "cancelled";
    case DecisionStatus::failed:
      return "failed";
    case DecisionStatus::ignored:
      return "ignored";
  }
  return "pending";
}

std::optional<DecisionStatus> decisionStatusFromString(std::string_view text) {
  for (DecisionStatus status : allDecisionStatusCases) {
    if (toString(status) == text) return status;
  }
  return std::nullopt;
}

LogEntry::LogEntry(Uuid id, URL url, std::optional<std::string> sourceApp,
                   std::optional<std::string> sourceWindow, Date receivedAt,
                   DecisionStatus status, std::optional<BrowserTarget> target,
                   std::optional<std::string> reason, std::vector<std::string> trace)
    : id(id),
      url(std::move(url)),
      sourceApp(std::move(sourceApp)),
      sourceWindow(std::move(sourceWindow)),
      receivedAt(receivedAt),
      status(status),
      target(std::move(target)),
      reason(std::move(reason)),
      trace(std::move(trace)) {}

URL LogEntry::boundedURL(const URL& url) {
  const std::string& text = url.absoluteString();
  if (text.size() <= kURLLimit) return url;
  const std::string marker = "%E2%80%A6%20(" + std::to_string(text.size()) + "%20characters)";
  std::size_t cut = kURLLimit - marker.size();
  // Never inside a percent escape or a UTF-8 sequence, so that the rest still decodes.
  if (text[cut - 1] == '%') {
    cut -= 1;
  } else if (text[cut - 2] == '%') {
    cut -= 2;
  }
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  if (auto shortened = URL::parse(text.substr(0, cut) + marker)) return *shortened;
  // Cut where the marker cannot stand (inside a port): the scheme alone says what it was.
  if (auto shortened = URL::parse(url.scheme().value_or("") + ":" + marker)) return *shortened;
  return *URL::parse(marker);
}

std::string LogEntry::boundedText(std::string_view text) {
  // A character is at least one byte: most texts need no counting.
  if (text.size() <= kTextLimit) return std::string(text);
  const std::size_t count = Text::characterCount(text);
  if (count <= kTextLimit) return std::string(text);
  // " … (N characters)": its characters are its bytes but for the two more of "…".
  const std::string marker = " \u2026 (" + std::to_string(count) + " characters)";
  std::string shortened(Text::prefix(text, kTextLimit - (marker.size() - 2)));
  shortened += marker;
  return shortened;
}

void LogEntry::bound() {
  url = boundedURL(url);
  boundOptional(sourceApp);
  boundOptional(sourceWindow);
  boundOptional(reason);
  if (target) {
    target->browser = boundedText(target->browser);
    boundOptional(target->profile);
    boundOptional(target->container);
  }
  for (std::string& line : trace) line = boundedText(line);
  if (trace.size() <= kTraceLimit) return;
  // The lines past the first kTraceLimit - 1, an earlier count among them standing for its own.
  std::size_t omitted = 0;
  for (std::size_t i = kTraceLimit - 1; i < trace.size(); ++i) {
    omitted += omittedLines(trace[i]).value_or(1);
  }
  trace.resize(kTraceLimit - 1);
  trace.push_back("\u2026 (" + std::to_string(omitted) + " more lines)");
}

JsonValue LogEntry::toJson() const {
  JsonValue json = JsonValue::object();
  json["id"] = id.string();
  json["url"] = url.absoluteString();
  if (sourceApp) json["sourceApp"] = *sourceApp;
  if (sourceWindow) json["sourceWindow"] = *sourceWindow;
  json["receivedAt"] = receivedAt.secondsSinceReferenceDate();
  json["status"] = std::string(toString(status));
  if (target) json["target"] = target->toJson();
  if (reason) json["reason"] = *reason;
  json["trace"] = trace;
  return json;
}

LogEntry LogEntry::fromJson(const JsonReader& json) {
  JsonReader idJson = json["id"];
  std::optional<Uuid> id = Uuid::parse(idJson.string());
  if (!id) idJson.fail("expected a UUID such as \"E621E1F8-C36C-495A-93FC-0C247A3E6E5F\"");
  JsonReader urlJson = json["url"];
  std::optional<URL> url = URL::parse(urlJson.string());
  if (!url) urlJson.fail("not a URL");
  JsonReader statusJson = json["status"];
  std::string statusName = statusJson.string();
  std::optional<DecisionStatus> status = decisionStatusFromString(statusName);
  if (!status) statusJson.fail("unknown status \"" + statusName + "\"");
  std::optional<BrowserTarget> target;
  if (auto targetJson = json.optional("target")) target = BrowserTarget::fromJson(*targetJson);
  std::vector<std::string> trace;
  for (const JsonReader& line : json["trace"].elements()) trace.push_back(line.string());
  return LogEntry(*id, std::move(*url), optionalString(json, "sourceApp"),
                  optionalString(json, "sourceWindow"),
                  Date::fromSecondsSinceReferenceDate(json["receivedAt"].number()), *status,
                  std::move(target), optionalString(json, "reason"), std::move(trace));
}

namespace LogFile {
namespace {

// Every entry the log writes starts so, and the text cannot occur inside a JSON string (its
// quote would be escaped): room for exactly the entries, without regrowing a large vector.
std::size_t countEntries(std::string_view text) {
  std::size_t count = 0;
  constexpr std::string_view kStart = "{\"id\":\"";
  for (std::size_t at = text.find(kStart); at != std::string_view::npos;
       at = text.find(kStart, at + kStart.size())) {
    ++count;
  }
  return count;
}

}  // namespace

std::string encode(const std::vector<LogEntry>& entries) {
  std::string out;
  // Usually 300 to 600 bytes an entry: one allocation for the usual file.
  out.reserve(entries.size() * 640 + 2);
  out += '[';
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i > 0) out += ',';
    appendObject(out, entries[i]);
  }
  out += ']';
  return out;
}

void appendEntry(std::string& out, const LogEntry& entry) { appendObject(out, entry); }

std::vector<LogEntry> decode(std::string_view text, std::string_view fileName) {
  std::vector<LogEntry> entries;
  entries.reserve(countEntries(text));
  if (CompactReader(text).read(entries)) return entries;
  return decodeGeneric(text, fileName);
}

std::optional<std::vector<StoredEntry>> scan(std::string_view text) {
  std::vector<StoredEntry> entries;
  entries.reserve(countEntries(text));
  if (!CompactReader(text).scan(entries)) return std::nullopt;
  return entries;
}

LogEntry decodeEntry(std::string_view object) {
  if (std::optional<LogEntry> entry = CompactReader(object).single()) return std::move(*entry);
  // Only a text that is no entry of the log's own shape ends here: the generic reader says why.
  JsonValue document = Json::parse(object, "log entry");
  return LogEntry::fromJson(JsonReader(document, "log entry"));
}

std::string encodeEntry(const LogEntry& entry) {
  std::string out;
  appendObject(out, entry);
  return out;
}

std::vector<LogEntry> decodeGeneric(std::string_view text, std::string_view fileName) {
  JsonValue document = Json::parse(text, fileName);
  JsonReader json(document, std::string(fileName));
  std::vector<LogEntry> entries;
  std::vector<JsonReader> elements = json.elements();
  entries.reserve(elements.size());
  for (const JsonReader& element : elements) entries.push_back(LogEntry::fromJson(element));
  return entries;
}

}  // namespace LogFile

namespace LogJournal {

void appendLine(std::string& out, const LogChange& change) {
  out += '{';
  bool first = true;
  auto entries = [&](std::string_view key, const std::vector<LogEntry>& list) {
    if (list.empty()) return;
    appendKey(out, key, std::exchange(first, false));
    out += '[';
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (i > 0) out += ',';
      appendObject(out, list[i]);
    }
    out += ']';
  };
  if (change.clear) {
    appendKey(out, "clear", std::exchange(first, false));
    out += "true";
  }
  if (!change.drop.empty()) {
    appendKey(out, "drop", std::exchange(first, false));
    out += '[';
    for (std::size_t i = 0; i < change.drop.size(); ++i) {
      if (i > 0) out += ',';
      out += '"';
      out += change.drop[i].string();
      out += '"';
    }
    out += ']';
  }
  entries("put", change.put);
  entries("add", change.add);
  out += "}\n";
}

LogChange decodeLine(std::string_view line, std::string_view where) {
  JsonValue document = Json::parse(line, where);
  JsonReader json(document, std::string(where));
  LogChange change;
  if (auto clear = json.optional("clear")) change.clear = clear->boolean();
  if (auto drop = json.optional("drop")) {
    for (const JsonReader& idJson : drop->elements()) {
      std::optional<Uuid> id = Uuid::parse(idJson.string());
      if (!id) idJson.fail("expected a UUID");
      change.drop.push_back(*id);
    }
  }
  auto entries = [&](std::string_view key, std::vector<LogEntry>& list) {
    if (auto member = json.optional(key)) {
      for (const JsonReader& element : member->elements()) {
        list.push_back(LogEntry::fromJson(element));
      }
    }
  };
  entries("put", change.put);
  entries("add", change.add);
  return change;
}

}  // namespace LogJournal

}  // namespace linkferry
