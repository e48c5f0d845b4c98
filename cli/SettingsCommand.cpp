// `linkferry settings [--json]`: the effective settings (defaults filled in) and the file they came
// from. `linkferry settings set KEY VALUE`: changes one setting; a value of the wrong type or an
// unknown key is refused naming the key and the value it takes, and nothing is written.
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "Command.h"
#include "foundation/Files.h"
#include "foundation/Json.h"
#include "settings/AppSettings.h"
#include "settings/LinkferryPaths.h"

namespace linkferry::cli {
namespace {

// The settings of `file`; a file that cannot be read or is no settings file is the user's to fix.
AppSettings loadSettings(const std::filesystem::path& file) {
  try {
    return AppSettings::load(file);
  } catch (const std::system_error& error) {
    throw InputError(error.what());
  }
}

int show(bool json) {
  const std::filesystem::path file = LinkferryPaths::defaultPaths().settings();
  const AppSettings settings = loadSettings(file);
  const bool exists = std::filesystem::exists(file);
  const JsonValue values = settings.toJson();
  if (json) {
    printJson({{"file", file.string()}, {"exists", exists}, {"settings", values}});
    return kSuccess;
  }
  std::cout << file.string() << (exists ? "" : " (no file: the defaults)") << '\n';
  for (std::string_view key : AppSettings::jsonKeys()) {
    auto value = values.find(key);
    std::cout << "  " << key << " = "
              << (value == values.end() ? std::string("(none)") : Json::encodeCompact(*value))
              << '\n';
  }
  return kSuccess;
}

// A value as typed: `null` (the default again), text for the keys that take text or a case
// name, else JSON, else (a bare word) text.
JsonValue typedValue(std::string_view key, const std::string& text) {
  if (text == "null") return JsonValue(nullptr);
  static const JsonValue& defaults = *new JsonValue(AppSettings{}.toJson());
  if (auto value = defaults.find(key); value != defaults.end() && value->is_string()) {
    return JsonValue(text);
  }
  if (std::optional<JsonValue> parsed = Json::tryParse(text)) return std::move(*parsed);
  return JsonValue(text);
}

int set(const std::string& key, const std::string& text) {
  const std::filesystem::path file = LinkferryPaths::defaultPaths().settings();
  const AppSettings current = loadSettings(file);
  AppSettings changed;
  try {
    changed = current.withValue(key, typedValue(key, text));
  } catch (const SettingsError& error) {
    throw InputError(std::string(error.what()) + "; " + file.string() + " is unchanged");
  }
  changed.save(file);
  const JsonValue values = changed.toJson();
  auto value = values.find(key);
  std::cout << key << " = "
            << (value == values.end() ? std::string("(none)") : Json::encodeCompact(*value))
            << " in " << file.string() << '\n';
  return kSuccess;
}

// Every key settings.json takes, with the values it accepts, for the help of `settings` and
// `settings set`.
std::string keysHelp() {
  std::string text = "Keys of settings.json:\n";
  for (std::string_view key : AppSettings::jsonKeys()) {
    text += "  " + std::string(key);
    if (std::optional<std::string_view> expected = AppSettings::expectedValue(key)) {
      text += ": " + std::string(*expected);
    }
    text += '\n';
  }
  return text;
}

const RegisterCommand kRegister([](CLI::App& program) -> CommandAction {
  CLI::App* settings =
      program.add_subcommand("settings", "Show the effective settings, or change one");
  settings->require_subcommand(0, 1);
  auto json = std::make_shared<bool>(false);
  settings->add_flag("--json", *json, "Machine-readable output");
  CLI::App* setCommand = settings->add_subcommand(
      "set", "Change one setting: KEY VALUE (VALUE is JSON for lists, objects and numbers)");
  auto key = std::make_shared<std::string>();
  auto value = std::make_shared<std::string>();
  setCommand->add_option("KEY", *key, "The setting's key, as in settings.json")->required();
  settings->footer(keysHelp());
  setCommand->footer(keysHelp());
  setCommand->add_option("VALUE", *value, "The new value; null restores the default")->required();
  return [setCommand, json, key, value]() {
    if (setCommand->parsed()) return set(*key, *value);
    return show(*json);
  };
});

}  // namespace
}  // namespace linkferry::cli
