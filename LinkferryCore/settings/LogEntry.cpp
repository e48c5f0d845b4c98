#include "settings/LogEntry.h"

#include <charconv>
#include <cmath>
#include <utility>

namespace linkferry {
namespace {

// True when `text` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF),
// the condition under which the generic encoder writes a string unchanged.
bool isValidUTF8(std::string_view text) {
  std::size_t i = 0;
  const std::size_t size = text.size();
  while (i < size) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      ++i;
      continue;
    }
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
      return false;
    }
    if (i + length > size) return false;
    const auto second = static_cast<unsigned char>(text[i + 1]);
    if (second < low || second > high) return false;
    for (std::size_t k = 2; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if (next < 0x80 || next > 0xBF) return false;
    }
    i += length;
  }
  return true;
}

void appendString(std::string& out, std::string_view text) {
  if (!isValidUTF8(text)) {
    // Rare: let the generic encoder replace what is not UTF-8, so both write the same.
    out += Json::encodeCompact(JsonValue(std::string(text)));
    return;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  std::size_t plainStart = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text.data() + plainStart, i - plainStart);
    plainStart = i + 1;
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
  out.append(text.data() + plainStart, text.size() - plainStart);
  out += '"';
}

void appendKey(std::string& out, std::string_view key) {
  out += '"';
  out += key;
  out += "\":";
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
  appendKey(out, "browser");
  appendString(out, target.browser);
  if (target.container) {
    out += ',';
    appendKey(out, "container");
    appendString(out, *target.container);
  }
  if (target.privateMode) {
    out += ',';
    appendKey(out, "privateMode");
    out += "true";
  }
  if (target.profile) {
    out += ',';
    appendKey(out, "profile");
    appendString(out, *target.profile);
  }
  out += '}';
}

void appendEntry(std::string& out, const LogEntry& entry) {
  out += '{';
  appendKey(out, "id");
  out += '"';
  out += entry.id.string();
  out += "\",";
  if (entry.reason) {
    appendKey(out, "reason");
    appendString(out, *entry.reason);
    out += ',';
  }
  appendKey(out, "receivedAt");
  appendNumber(out, entry.receivedAt.secondsSinceReferenceDate());
  if (entry.sourceApp) {
    out += ',';
    appendKey(out, "sourceApp");
    appendString(out, *entry.sourceApp);
  }
  if (entry.sourceWindow) {
    out += ',';
    appendKey(out, "sourceWindow");
    appendString(out, *entry.sourceWindow);
  }
  out += ',';
  appendKey(out, "status");
  out += '"';
  out += toString(entry.status);
  out += '"';
  if (entry.target) {
    out += ',';
    appendKey(out, "target");
    appendTarget(out, *entry.target);
  }
  out += ',';
  appendKey(out, "trace");
  out += '[';
  for (std::size_t i = 0; i < entry.trace.size(); ++i) {
    if (i > 0) out += ',';
    appendString(out, entry.trace[i]);
  }
  out += "],";
  appendKey(out, "url");
  appendString(out, entry.url.absoluteString());
  out += '}';
}

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

std::string encode(const std::vector<LogEntry>& entries) {
  std::string out;
  // About 500 bytes an entry; one allocation for the usual file.
  out.reserve(entries.size() * 512 + 2);
  out += '[';
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i > 0) out += ',';
    appendEntry(out, entries[i]);
  }
  out += ']';
  return out;
}

std::vector<LogEntry> decode(std::string_view text, std::string_view fileName) {
  JsonValue document = Json::parse(text, fileName);
  JsonReader json(document, std::string(fileName));
  std::vector<LogEntry> entries;
  std::vector<JsonReader> elements = json.elements();
  entries.reserve(elements.size());
  for (const JsonReader& element : elements) entries.push_back(LogEntry::fromJson(element));
  return entries;
}

}  // namespace LogFile

}  // namespace linkferry
