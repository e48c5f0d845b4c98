#include "siteinfo/DomainRegistration.h"

#include <algorithm>
#include <array>

#include "foundation/Json.h"
#include "foundation/Text.h"
#include "foundation/URL.h"
#include "siteinfo/SiteInfoError.h"

namespace linkferry {
namespace {

const JsonValue& member(const JsonValue& object, const char* key) {
  static const JsonValue null;
  if (!object.is_object()) return null;
  auto found = object.find(key);
  return found == object.end() ? null : *found;
}

std::optional<std::string> string(const JsonValue& value) {
  if (!value.is_string()) return std::nullopt;
  return value.get<std::string>();
}

// The value of a jCard property (RFC 7095): the first property of that name with a usable value.
std::optional<std::string> vcardValue(const JsonValue& entity, std::string_view name) {
  const JsonValue& vcard = member(entity, "vcardArray");
  if (!vcard.is_array() || vcard.size() < 2 || !vcard[1].is_array()) return std::nullopt;
  for (const JsonValue& property : vcard[1]) {
    if (!property.is_array() || property.size() < 4) continue;
    if (!property[0].is_string() || property[0].get_ref<const std::string&>() != name) continue;
    const JsonValue& value = property[3];
    if (value.is_string()) {
      std::string_view text = Text::trimmed(value.get_ref<const std::string&>());
      if (text.empty()) return std::nullopt;
      return std::string(value.get_ref<const std::string&>());
    }
    if (value.is_array()) {
      for (const JsonValue& part : value) {
        if (part.is_string() && !part.get_ref<const std::string&>().empty()) {
          return part.get<std::string>();
        }
      }
    }
  }
  return std::nullopt;
}

// Nothing for a value a registry wrote in place of the real one.
std::optional<std::string> published(const std::optional<std::string>& value) {
  if (!value) return std::nullopt;
  std::string text(Text::trimmed(*value));
  if (text.empty()) return std::nullopt;
  std::string lower = Text::lowercased(text);
  static constexpr std::array kMasks{"redacted", "privacy",    "data protected",   "not disclosed",
                                     "withheld", "non-public", "statutory masking"};
  for (const char* mask : kMasks) {
    if (lower.find(mask) != std::string::npos) return std::nullopt;
  }
  return text;
}

std::optional<std::string> country(const JsonValue& entity) {
  const JsonValue& vcard = member(entity, "vcardArray");
  if (!vcard.is_array() || vcard.size() < 2 || !vcard[1].is_array()) return std::nullopt;
  for (const JsonValue& property : vcard[1]) {
    if (!property.is_array() || property.size() < 4) continue;
    if (!property[0].is_string() || property[0].get_ref<const std::string&>() != "adr") continue;
    if (auto code = string(member(property[1], "cc")); code && code->size() == 2) {
      return Text::uppercased(*code);
    }
    const JsonValue& value = property[3];
    if (value.is_array() && value.size() >= 7) {
      bool allStrings = true;
      for (const JsonValue& part : value) allStrings = allStrings && part.is_string();
      if (allStrings) {
        if (auto name = published(value[6].get<std::string>())) return name;
      }
    }
  }
  return std::nullopt;
}

std::vector<std::string> roles(const JsonValue& entity) {
  std::vector<std::string> result;
  const JsonValue& list = member(entity, "roles");
  if (!list.is_array()) return result;
  for (const JsonValue& role : list) {
    if (role.is_string())
      result.push_back(Text::asciiLowercased(role.get_ref<const std::string&>()));
  }
  return result;
}

bool hasRole(const JsonValue& entity, std::string_view role) {
  auto all = roles(entity);
  return std::find(all.begin(), all.end(), role) != all.end();
}

// Entities depth-first: each one, then the ones nested in it.
void flatten(const JsonValue& entities, std::vector<const JsonValue*>& into) {
  if (!entities.is_array()) return;
  for (const JsonValue& entity : entities) {
    if (!entity.is_object()) continue;
    into.push_back(&entity);
    flatten(member(entity, "entities"), into);
  }
}

// Whether an RFC 9537 redaction names the registrant, in its description or in its type
// ("Registrant Name").
bool registrantRedacted(const JsonValue& answer) {
  const JsonValue& redacted = member(answer, "redacted");
  if (!redacted.is_array()) return false;
  for (const JsonValue& entry : redacted) {
    const JsonValue& name = member(entry, "name");
    for (const char* key : {"description", "type"}) {
      auto text = string(member(name, key));
      if (text && Text::lowercased(*text).find("registrant") != std::string::npos) return true;
    }
  }
  return false;
}

}  // namespace

DomainRegistration DomainRegistration::parse(std::string_view body) {
  std::optional<JsonValue> parsed = Json::tryParse(body);
  if (!parsed || !parsed->is_object() || parsed->empty()) throw SiteInfoError::invalidResponse();
  const JsonValue& answer = *parsed;
  auto objectClass = string(member(answer, "objectClassName"));
  if (!objectClass || Text::asciiLowercased(*objectClass) != "domain") {
    throw SiteInfoError::invalidResponse();
  }

  DomainRegistration result;
  result.domain = Text::asciiLowercased(string(member(answer, "ldhName")).value_or(""));

  const JsonValue& events = member(answer, "events");
  if (events.is_array()) {
    for (const JsonValue& event : events) {
      auto action = string(member(event, "eventAction"));
      auto dateText = string(member(event, "eventDate"));
      if (!action || !dateText) continue;
      std::optional<Date> date = RFC3339::parse(*dateText);  // fractions are dropped
      if (!date) continue;
      std::string lower = Text::asciiLowercased(*action);
      if (lower == "registration")
        result.registered = date;
      else if (lower == "expiration")
        result.expires = date;
      else if (lower == "last changed")
        result.lastChanged = date;
    }
  }

  const JsonValue& status = member(answer, "status");
  if (status.is_array()) {
    for (const JsonValue& value : status) {
      if (value.is_string()) result.status.push_back(Text::lowercased(value.get<std::string>()));
    }
  }

  std::vector<const JsonValue*> entities;
  flatten(member(answer, "entities"), entities);
  bool registrantFound = false;
  bool registrarFound = false;
  for (const JsonValue* entity : entities) {
    if (!registrarFound && hasRole(*entity, "registrar")) {
      registrarFound = true;
      result.registrar = vcardValue(*entity, "fn");
      if (!result.registrar) result.registrar = vcardValue(*entity, "org");
    }
    if (!registrantFound && hasRole(*entity, "registrant")) {
      registrantFound = true;
      result.registrantOrganization = published(vcardValue(*entity, "org"));
      if (!result.registrantOrganization) {
        result.registrantOrganization = published(vcardValue(*entity, "fn"));
      }
      result.registrantCountry = country(*entity);
      result.registrantHidden = !result.registrantOrganization;
    }
  }
  if (!registrantFound && registrantRedacted(answer)) result.registrantHidden = true;

  const JsonValue& links = member(answer, "links");
  if (links.is_array()) {
    for (const JsonValue& link : links) {
      auto rel = string(member(link, "rel"));
      auto type = string(member(link, "type"));
      auto href = string(member(link, "href"));
      if (!rel || *rel != "related" || !type || type->find("rdap") == std::string::npos || !href) {
        continue;
      }
      std::optional<URL> url = URL::parse(*href);
      if (url && url->scheme() && Text::asciiLowercased(*url->scheme()) == "https") {
        result.registrarRecord = *href;
      }
    }
  }
  return result;
}

void DomainRegistration::merge(const DomainRegistration& other) {
  if (!registrantOrganization && other.registrantOrganization) {
    registrantOrganization = other.registrantOrganization;
    registrantHidden = false;
  }
  if (!registrantCountry) registrantCountry = other.registrantCountry;
  if (!registrantOrganization && !other.registrantOrganization && other.registrantHidden) {
    registrantHidden = true;
  }
  if (!registrar) registrar = other.registrar;
  if (!registered) registered = other.registered;
  if (!expires) expires = other.expires;
}

}  // namespace linkferry
