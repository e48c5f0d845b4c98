#include "rules/Rule.h"

#include <cctype>
#include <string_view>

#include "foundation/Uuid.h"

namespace linkferry {
namespace {

// The internet date-time form exactly: "YYYY-MM-DDTHH:MM:SS" then "Z" or "+HH:MM"/"-HH:MM".
// The date reader itself would also take fractions of seconds, which the rule file never holds.
bool hasInternetDateTimeShape(std::string_view text) {
  auto digits = [&](std::size_t from, std::size_t count) {
    for (std::size_t i = from; i < from + count; ++i) {
      if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    }
    return true;
  };
  if (text.size() != 20 && text.size() != 25) return false;
  if (!digits(0, 4) || text[4] != '-' || !digits(5, 2) || text[7] != '-' || !digits(8, 2) ||
      text[10] != 'T' || !digits(11, 2) || text[13] != ':' || !digits(14, 2) || text[16] != ':' ||
      !digits(17, 2)) {
    return false;
  }
  if (text.size() == 20) return text[19] == 'Z';
  return (text[19] == '+' || text[19] == '-') && digits(20, 2) && text[22] == ':' && digits(23, 2);
}

}  // namespace

bool Rule::isActive(Date now) const {
  return enabled && (!expiresAt || now < *expiresAt);
}

bool Rule::isExpired(Date now) const {
  return expiresAt && now >= *expiresAt;
}

JsonValue Rule::toJson() const {
  JsonValue json = JsonValue::object();
  json["id"] = id;
  json["name"] = name;
  json["enabled"] = enabled;
  json["match"] = match.toJson();
  json["action"] = action.toJson();
  if (expiresAt) {
    // Near the ends of the four-digit years ("9999-12-31T23:59:59Z" meaning "never") the local
    // offset could push the text into a fifth digit that no load accepts; UTC keeps it readable.
    std::string text = RFC3339::format(*expiresAt, Calendar::current());
    if (!hasInternetDateTimeShape(text)) text = RFC3339::formatUTC(*expiresAt);
    json["expiresAt"] = text;
  }
  return json;
}

Rule Rule::fromJson(const JsonReader& json) {
  if (!json.isObject()) json.fail("expected an object, got " + Json::typeName(json.value()));
  auto id = json.optional("id");
  std::string name = json["name"].string();
  auto enabled = json.optional("enabled");
  Matcher match = Matcher::fromJson(json["match"]);
  RuleAction action = RuleAction::fromJson(json["action"]);
  std::optional<Date> expiresAt;
  if (auto expiry = json.optional("expiresAt")) {
    std::string text = expiry->string();
    if (hasInternetDateTimeShape(text)) expiresAt = RFC3339::parse(text);
    // An instant outside the four-digit years of UTC ("0000-01-01T00:00:00+01:00") could not be
    // written back in a form that loads.
    if (expiresAt && !hasInternetDateTimeShape(RFC3339::formatUTC(*expiresAt))) expiresAt.reset();
    if (!expiresAt) expiry->fail("expiresAt must be an ISO 8601 date, got " + text);
  }
  return Rule{
      .id = id ? id->string() : Uuid::random().string(),
      .name = std::move(name),
      .enabled = enabled ? enabled->boolean() : true,
      .match = std::move(match),
      .action = std::move(action),
      .expiresAt = expiresAt,
  };
}

}  // namespace linkferry
