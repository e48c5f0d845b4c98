#include "browsers/BrowserDefinition.h"

namespace linkferry {

JsonValue BrowserDefinition::toJson() const {
  JsonValue json = JsonValue::object();
  json["id"] = id;
  json["name"] = name;
  json["family"] = browserFamilyToJson(family);
  json["appPath"] = appPath;
  json["explicitUserDataDir"] = explicitUserDataDir;
  if (dataDir) json["dataDir"] = *dataDir;
  if (!launchArguments.empty()) json["launchArguments"] = launchArguments;
  return json;
}

BrowserDefinition BrowserDefinition::fromJson(const JsonReader& json) {
  if (!json.isObject()) json.fail("expected an object, got " + Json::typeName(json.value()));
  BrowserDefinition definition;
  definition.id = json["id"].string();
  definition.name = json["name"].string();
  definition.family = browserFamilyFromJson(json["family"]);
  definition.appPath = json["appPath"].string();
  if (auto dataDir = json.optional("dataDir")) definition.dataDir = dataDir->string();
  if (auto explicitDir = json.optional("explicitUserDataDir")) {
    definition.explicitUserDataDir = explicitDir->boolean();
  }
  if (auto arguments = json.optional("launchArguments")) {
    for (const JsonReader& argument : arguments->elements()) {
      definition.launchArguments.push_back(argument.string());
    }
  }
  return definition;
}

}  // namespace linkferry
