#include "browsers/BrowserTarget.h"

namespace linkferry {

std::string BrowserTarget::description() const {
  std::string text = browser;
  if (profile) text += " / " + *profile;
  if (container) text += " / container:" + *container;
  if (privateMode) text += " / private";
  return text;
}

JsonValue BrowserTarget::toJson() const {
  JsonValue json = JsonValue::object();
  json["browser"] = browser;
  if (profile) json["profile"] = *profile;
  if (container) json["container"] = *container;
  if (privateMode) json["privateMode"] = true;
  return json;
}

BrowserTarget BrowserTarget::fromJson(const JsonReader& json) {
  BrowserTarget target;
  target.browser = json["browser"].string();
  if (auto profile = json.optional("profile")) target.profile = profile->string();
  if (auto container = json.optional("container")) target.container = container->string();
  if (auto privateMode = json.optional("privateMode")) target.privateMode = privateMode->boolean();
  return target;
}

}  // namespace linkferry
