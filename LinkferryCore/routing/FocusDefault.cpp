#include "routing/FocusDefault.h"

namespace linkferry {

JsonValue FocusDefault::toJson() const {
  JsonValue json = JsonValue::object();
  json["target"] = target.toJson();
  json["alwaysUse"] = alwaysUse;
  return json;
}

FocusDefault FocusDefault::fromJson(const JsonReader& json) {
  FocusDefault focus;
  focus.target = BrowserTarget::fromJson(json["target"]);
  focus.alwaysUse = json["alwaysUse"].boolean();
  return focus;
}

}  // namespace linkferry
