#include "PickerProtocol.h"

#include <stdexcept>
#include <utility>

namespace linkferry::PickerProtocol {

namespace {

JsonValue avatarJson(const ProfileAvatar& avatar) {
  JsonValue json = {{"initial", avatar.initial}, {"fill", avatar.fill}, {"text", avatar.text}};
  if (avatar.imagePath) json["imagePath"] = *avatar.imagePath;
  return json;
}

ProfileAvatar readAvatar(const JsonReader& json) {
  ProfileAvatar avatar{json["initial"].string(),
                       static_cast<std::uint32_t>(json["fill"].integer()),
                       static_cast<std::uint32_t>(json["text"].integer()), std::nullopt};
  if (auto image = json.optional("imagePath")) avatar.imagePath = image->string();
  return avatar;
}

}  // namespace

JsonValue Input::toJson() const {
  JsonValue json = request.toJson();
  for (std::size_t i = 0; i < request.candidates.size(); ++i) {
    JsonValue& item = json["candidates"][i];
    if (i < labels.size()) item["label"] = labels[i];
    if (i < avatars.size() && avatars[i]) item["avatar"] = avatarJson(*avatars[i]);
  }
  JsonValue scopeList = JsonValue::array();
  for (const ScopeChoice& scope : scopes) {
    JsonValue item = {{"id", scope.id}, {"title", scope.title}};
    if (scope.pattern) item["pattern"] = *scope.pattern;
    scopeList.push_back(std::move(item));
  }
  JsonValue durationList = JsonValue::array();
  for (const RememberDuration& duration : durations) {
    JsonValue item = duration.toJson();
    item["title"] = duration.title();
    durationList.push_back(std::move(item));
  }
  json["window"] = {{"visibleCount", visibleCount}, {"columns", columns},
                    {"atCursor", atCursor},         {"scopes", std::move(scopeList)},
                    {"defaultScope", defaultScope}, {"durations", std::move(durationList)}};
  return json;
}

Input Input::parse(std::string_view text, std::string_view file) {
  const JsonValue document = Json::parse(text, file);
  return fromJson(JsonReader(document, std::string(file)));
}

Input Input::fromJson(const JsonReader& json) {
  Input input{PickerRequest::fromJson(json), {}, {}, 10, 0, false, {}, 0, {}};
  if (input.request.candidates.empty()) {
    json["candidates"].fail("no candidates to choose from");
  }
  for (const JsonReader& item : json["candidates"].elements()) {
    if (auto label = item.optional("label")) {
      input.labels.push_back(label->string());
    } else {
      input.labels.push_back(BrowserTarget::fromJson(item["target"]).browser);
    }
    std::optional<ProfileAvatar> avatar;
    if (auto avatarJson = item.optional("avatar")) avatar = readAvatar(*avatarJson);
    input.avatars.push_back(std::move(avatar));
  }
  if (auto window = json.optional("window")) {
    if (auto count = window->optional("visibleCount")) input.visibleCount = count->integer();
    if (auto columns = window->optional("columns")) input.columns = columns->integer();
    if (auto atCursor = window->optional("atCursor")) input.atCursor = atCursor->boolean();
    if (auto scopes = window->optional("scopes")) {
      for (const JsonReader& scope : scopes->elements()) {
        std::optional<std::string> pattern;
        if (auto text = scope.optional("pattern")) pattern = text->string();
        input.scopes.push_back({scope["id"].string(), scope["title"].string(), std::move(pattern)});
      }
    }
    if (auto chosen = window->optional("defaultScope")) {
      const std::int64_t index = chosen->integer();
      if (index < 0 || static_cast<std::size_t>(index) >= std::max<std::size_t>(input.scopes.size(), 1)) {
        chosen->fail("not one of the scopes");
      }
      input.defaultScope = static_cast<std::size_t>(index);
    }
    if (auto durations = window->optional("durations")) {
      for (const JsonReader& duration : durations->elements()) {
        input.durations.push_back(RememberDuration::fromJson(duration));
      }
    }
  }
  return input;
}

JsonValue Answer::toJson() const {
  if (!choose) return PickerCommand::cancel().toJson();
  JsonValue json = PickerCommand::choose(choose->index, choose->makeRule, choose->privateMode).toJson();
  if (scope) json["scope"] = *scope;
  if (pattern) json["pattern"] = *pattern;
  if (duration) json["duration"] = duration->toJson();
  return json;
}

Answer Answer::fromJson(const JsonReader& json) {
  Answer answer;
  if (json.has("cancel")) return answer;
  JsonReader choose = json["choose"];
  answer.choose = PickerCommand::Choose{choose["index"].integer(), choose["makeRule"].boolean(),
                                        choose["privateMode"].boolean()};
  if (auto scope = json.optional("scope")) answer.scope = scope->string();
  if (auto pattern = json.optional("pattern")) answer.pattern = pattern->string();
  if (auto duration = json.optional("duration")) answer.duration = RememberDuration::fromJson(*duration);
  return answer;
}

JsonValue WarmRequest::toJson() const {
  JsonValue variables = JsonValue::object();
  for (const auto& [name, value] : focus) variables[name] = value;
  return {{"input", input.toJson()}, {"focus", std::move(variables)}};
}

WarmRequest WarmRequest::parse(std::string_view text, std::string_view file) {
  const JsonValue document = Json::parse(text, file);
  const JsonReader json(document, std::string(file));
  WarmRequest request{Input::fromJson(json["input"]), {}};
  if (auto focus = json.optional("focus")) {
    for (const std::string& name : focus->keys()) request.focus[name] = (*focus)[name].string();
  }
  return request;
}

}  // namespace linkferry::PickerProtocol
