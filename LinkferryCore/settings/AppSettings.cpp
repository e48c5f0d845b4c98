#include "settings/AppSettings.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "foundation/Dates.h"
#include "foundation/Files.h"

namespace linkferry {
namespace {

constexpr std::string_view kBoolean = "a boolean (true or false)";
constexpr std::string_view kTargets =
    "a list of browser targets such as [{\"browser\": \"firefox\", \"profile\": \"default\"}]";
constexpr std::string_view kSearchURL =
    "a search address with %s where the words go, such as \"https://duckduckgo.com/?q=%s\"";
constexpr std::string_view kTarget = "a browser target such as {\"browser\": \"firefox\"}";

// How one key is read and written. `read` throws JsonError for a value it cannot take; `write`
// gives nothing when the key is left out of the file.
struct Field {
  std::string_view key;
  std::string_view expected;
  bool forgiving;
  void (*read)(AppSettings&, const JsonReader&);
  std::optional<JsonValue> (*write)(const AppSettings&);
};

template <bool AppSettings::*member>
Field booleanField(std::string_view key) {
  return {key, kBoolean, false,
          [](AppSettings& settings, const JsonReader& json) { settings.*member = json.boolean(); },
          [](const AppSettings& settings) -> std::optional<JsonValue> {
            return JsonValue(settings.*member);
          }};
}

template <std::int64_t AppSettings::*member>
Field integerField(std::string_view key, std::string_view expected) {
  return {key, expected, false,
          [](AppSettings& settings, const JsonReader& json) { settings.*member = json.integer(); },
          [](const AppSettings& settings) -> std::optional<JsonValue> {
            return JsonValue(settings.*member);
          }};
}

template <std::vector<BrowserTarget> AppSettings::*member>
Field targetsField(std::string_view key) {
  return {key, kTargets, false,
          [](AppSettings& settings, const JsonReader& json) {
            std::vector<BrowserTarget> targets;
            for (const JsonReader& element : json.elements()) {
              targets.push_back(BrowserTarget::fromJson(element));
            }
            settings.*member = std::move(targets);
          },
          [](const AppSettings& settings) -> std::optional<JsonValue> {
            JsonValue list = JsonValue::array();
            for (const BrowserTarget& target : settings.*member) list.push_back(target.toJson());
            return list;
          }};
}

// An enumeration stored as its case name; an unknown name fails like a wrong type.
template <typename Enum, Enum AppSettings::*member, std::optional<Enum> (*fromString)(std::string_view)>
Field caseField(std::string_view key, std::string_view expected) {
  return {key, expected, true,
          [](AppSettings& settings, const JsonReader& json) {
            std::string name = json.string();
            std::optional<Enum> value = fromString(name);
            if (!value) json.fail("unknown value \"" + name + "\"");
            settings.*member = *value;
          },
          [](const AppSettings& settings) -> std::optional<JsonValue> {
            return JsonValue(std::string(toString(settings.*member)));
          }};
}

const std::vector<Field>& fields() {
  static const auto& table = *new std::vector<Field>{
      booleanField<&AppSettings::alwaysAsk>("alwaysAsk"),
      booleanField<&AppSettings::dryRun>("dryRun"),
      integerField<&AppSettings::logRetentionDays>("logRetentionDays", "a number of days, 0 or more"),
      booleanField<&AppSettings::keepHistory>("keepHistory"),
      targetsField<&AppSettings::hiddenTargets>("hiddenTargets"),
      targetsField<&AppSettings::targetOrder>("targetOrder"),
      booleanField<&AppSettings::useSessions>("useSessions"),
      booleanField<&AppSettings::useHistory>("useHistory"),
      booleanField<&AppSettings::useContext>("useContext"),
      booleanField<&AppSettings::useSafariHistory>("useSafariHistory"),
      booleanField<&AppSettings::pickerAtCursor>("pickerAtCursor"),
      booleanField<&AppSettings::orderByUsage>("orderByUsage"),
      booleanField<&AppSettings::checkLinkSafety>("checkLinkSafety"),
      booleanField<&AppSettings::updatePopularity>("updatePopularity"),
      booleanField<&AppSettings::stripTracking>("stripTracking"),
      {"searchURL", kSearchURL, false,
       [](AppSettings& settings, const JsonReader& json) { settings.searchURL = json.string(); },
       [](const AppSettings& settings) -> std::optional<JsonValue> {
         return JsonValue(settings.searchURL);
       }},
      booleanField<&AppSettings::launcherHotkey>("launcherHotkey"),
      booleanField<&AppSettings::useSourceWindow>("useSourceWindow"),
      booleanField<&AppSettings::showSiteInfoAutomatically>("showSiteInfoAutomatically"),
      booleanField<&AppSettings::bounceHotkey>("bounceHotkey"),
      integerField<&AppSettings::pickerVisibleCount>("pickerVisibleCount",
                                                    "an integer from 4 to 20"),
      integerField<&AppSettings::pickerColumns>("pickerColumns",
                                               "an integer from 0 (automatic) to 4"),
      booleanField<&AppSettings::unwrapRedirects>("unwrapRedirects"),
      booleanField<&AppSettings::expandShortLinks>("expandShortLinks"),
      booleanField<&AppSettings::forceHTTPS>("forceHTTPS"),
      {"forceHTTPSExceptions", "a list of host names such as [\"intranet.test\"]", false,
       [](AppSettings& settings, const JsonReader& json) {
         std::vector<std::string> hosts;
         for (const JsonReader& element : json.elements()) hosts.push_back(element.string());
         settings.forceHTTPSExceptions = std::move(hosts);
       },
       [](const AppSettings& settings) -> std::optional<JsonValue> {
         return JsonValue(settings.forceHTTPSExceptions);
       }},
      booleanField<&AppSettings::appLinks>("appLinks"),
      {"appLinkOverrides", "an object of booleans such as {\"zoom\": false}", false,
       [](AppSettings& settings, const JsonReader& json) {
         std::map<std::string, bool> overrides;
         for (const std::string& key : json.keys()) overrides[key] = json[key].boolean();
         settings.appLinkOverrides = std::move(overrides);
       },
       [](const AppSettings& settings) -> std::optional<JsonValue> {
         JsonValue object = JsonValue::object();
         for (const auto& [key, value] : settings.appLinkOverrides) object[key] = value;
         return object;
       }},
      booleanField<&AppSettings::noPickerWhenLocked>("noPickerWhenLocked"),
      {"focusDefault",
       "an object such as {\"target\": {\"browser\": \"firefox\"}, \"alwaysUse\": false}", false,
       [](AppSettings& settings, const JsonReader& json) {
         settings.focusDefault = FocusDefault::fromJson(json);
       },
       [](const AppSettings& settings) -> std::optional<JsonValue> {
         if (!settings.focusDefault) return std::nullopt;
         return settings.focusDefault->toJson();
       }},
      {"rememberDurations", "a list such as [{\"count\": 24, \"unit\": \"hour\"}]", true,
       [](AppSettings& settings, const JsonReader& json) {
         std::vector<RememberDuration> durations;
         for (const JsonReader& element : json.elements()) {
           durations.push_back(RememberDuration::fromJson(element));
         }
         settings.rememberDurations = std::move(durations);
       },
       [](const AppSettings& settings) -> std::optional<JsonValue> {
         JsonValue list = JsonValue::array();
         for (const RememberDuration& duration : settings.rememberDurations) {
           list.push_back(duration.toJson());
         }
         return list;
       }},
      caseField<AlternativeModifier, &AppSettings::alternativeModifier,
                alternativeModifierFromString>(
          "alternativeModifier", "one of off, commandOption, option, shiftOption, shiftCommand"),
      {"alternativeBrowser", kTarget, false,
       [](AppSettings& settings, const JsonReader& json) {
         settings.alternativeBrowser = BrowserTarget::fromJson(json);
       },
       [](const AppSettings& settings) -> std::optional<JsonValue> {
         if (!settings.alternativeBrowser) return std::nullopt;
         return settings.alternativeBrowser->toJson();
       }},
      caseField<AlternativeAction, &AppSettings::alternativeAction, alternativeActionFromString>(
          "alternativeAction", "one of openAlternative, showPicker"),
      caseField<OpenIn, &AppSettings::openIn, openInFromString>(
          "openIn", "one of newTab, newWindow, currentTab"),
      // Read only in place of `openIn` (see `read` below); written for older readers.
      {"openInNewWindow", kBoolean, false, nullptr,
       [](const AppSettings& settings) -> std::optional<JsonValue> {
         return JsonValue(settings.openInNewWindow());
       }},
      booleanField<&AppSettings::openInBackground>("openInBackground"),
      booleanField<&AppSettings::cleanCopiedLinks>("cleanCopiedLinks"),
      booleanField<&AppSettings::showMenuBarIcon>("showMenuBarIcon"),
      caseField<MenuBarIconStyle, &AppSettings::menuBarIconStyle, menuBarIconStyleFromString>(
          "menuBarIconStyle", "one of stack, mono, arrow"),
      booleanField<&AppSettings::desktopNotifications>("desktopNotifications"),
  };
  return table;
}

const Field* fieldNamed(std::string_view key) {
  for (const Field& field : fields()) {
    if (field.key == key) return &field;
  }
  return nullptr;
}

// `strict` refuses what the file reader forgives (for values the user types in).
AppSettings read(const JsonReader& json, bool strict) {
  if (!json.isObject()) json.fail("expected an object, got " + Json::typeName(json.value()));
  AppSettings settings;
  bool openInRead = false;
  for (const Field& field : fields()) {
    if (!field.read) continue;
    std::optional<JsonReader> member = json.optional(field.key);
    if (!member) continue;
    if (field.forgiving && !strict) {
      try {
        field.read(settings, *member);
      } catch (const JsonError&) {
        continue;  // the default stays
      }
    } else {
      field.read(settings, *member);
    }
    if (field.key == "openIn") openInRead = true;
  }
  if (!openInRead) {
    if (std::optional<JsonReader> legacy = json.optional("openInNewWindow")) {
      settings.openIn = legacy->boolean() ? OpenIn::newWindow : OpenIn::newTab;
    }
  }
  settings.pickerVisibleCount =
      std::clamp(settings.pickerVisibleCount, AppSettings::kMinPickerVisibleCount,
                 AppSettings::kMaxPickerVisibleCount);
  settings.pickerColumns =
      std::clamp<std::int64_t>(settings.pickerColumns, 0, AppSettings::kMaxPickerColumns);
  settings.rememberDurations = RememberDuration::normalized(settings.rememberDurations,
                                                            Date::now(), Calendar::current());
  return settings;
}

// Whether `value`, just read into `settings` under `key`, is one the key takes as it is: the
// picker's counts within their bounds (the reader would clamp them), a retention that is not
// negative (one would drop each decision as it is logged), a search address with a place for
// the words.
bool withinRange(const AppSettings& settings, std::string_view key, const JsonValue& value) {
  if (key == "pickerVisibleCount" || key == "pickerColumns") {
    const std::int64_t read =
        key == "pickerColumns" ? settings.pickerColumns : settings.pickerVisibleCount;
    return value.is_number_integer() && value.get<std::int64_t>() == read;
  }
  if (key == "logRetentionDays") return settings.logRetentionDays >= 0;
  if (key == "searchURL") return settings.searchURL.find("%s") != std::string::npos;
  return true;
}

template <typename T>
void mix(std::size_t& hash, const T& value) {
  hash ^= std::hash<T>()(value) + 0x9e3779b97f4a7c15ull + (hash << 6) + (hash >> 2);
}

}  // namespace

void AppSettings::setOpenInNewWindow(bool value) {
  if (value) {
    openIn = OpenIn::newWindow;
  } else if (openIn == OpenIn::newWindow) {
    openIn = OpenIn::newTab;
  }
}

std::vector<BrowserTarget> AppSettings::orderedTargets(
    const std::vector<BrowserTarget>& available) const {
  std::unordered_set<BrowserTarget> availableSet(available.begin(), available.end());
  std::unordered_set<BrowserTarget> hidden(hiddenTargets.begin(), hiddenTargets.end());
  std::unordered_set<BrowserTarget> kept;
  std::vector<BrowserTarget> result;
  auto consider = [&](const BrowserTarget& target) {
    if (availableSet.contains(target) && !hidden.contains(target) && kept.insert(target).second) {
      result.push_back(target);
    }
  };
  for (const BrowserTarget& target : targetOrder) consider(target);
  for (const BrowserTarget& target : available) consider(target);
  return result;
}

AppSettings AppSettings::load(const std::filesystem::path& file) {
  std::optional<std::string> text = Files::readIfExists(file, kFileLimit);
  if (!text) return AppSettings{};
  return decode(*text, file.string());
}

AppSettings AppSettings::decode(std::string_view text, std::string_view fileName) {
  JsonValue document = Json::parse(text, fileName);
  return fromJson(JsonReader(document, std::string(fileName)));
}

AppSettings AppSettings::fromJson(const JsonReader& json) { return read(json, false); }

void AppSettings::save(const std::filesystem::path& file) const {
  Files::writeAtomically(file, encode());
}

std::string AppSettings::encode() const { return Json::encodePretty(toJson()); }

JsonValue AppSettings::toJson() const {
  JsonValue json = JsonValue::object();
  for (const Field& field : fields()) {
    if (std::optional<JsonValue> value = field.write(*this)) json[field.key] = std::move(*value);
  }
  return json;
}

const std::vector<std::string_view>& AppSettings::jsonKeys() {
  static const auto& keys = *new std::vector<std::string_view>([] {
    std::vector<std::string_view> list;
    for (const Field& field : fields()) list.push_back(field.key);
    return list;
  }());
  return keys;
}

std::optional<std::string_view> AppSettings::expectedValue(std::string_view key) {
  if (const Field* field = fieldNamed(key)) return field->expected;
  return std::nullopt;
}

AppSettings AppSettings::withValue(std::string_view key, const JsonValue& value) const {
  const Field* field = fieldNamed(key);
  if (!field) throw SettingsError("unknown setting \"" + std::string(key) + "\"");
  auto refuse = [&](const std::string& detail) {
    std::string message = std::string(key) + ": expected " + std::string(field->expected) +
                          ", got " + Json::encodeCompact(value);
    throw SettingsError(detail.empty() ? message : message + " (" + detail + ")");
  };
  if (key == "openInNewWindow") {
    // The legacy view: false leaves `currentTab` as it is.
    if (!value.is_boolean()) refuse("");
    AppSettings changed = *this;
    changed.setOpenInNewWindow(value.get<bool>());
    return changed;
  }
  JsonValue json = toJson();
  json[std::string(key)] = value;
  if (key == "openIn") json.erase("openInNewWindow");
  try {
    AppSettings changed = read(JsonReader(json, "settings"), true);
    // The file's reader clamps and forgives; a value typed now is refused instead of being
    // stored as something else than what was asked for.
    if (!value.is_null() && !withinRange(changed, key, value)) refuse("");
    return changed;
  } catch (const JsonError& error) {
    // Say where inside a list or object the value went wrong.
    refuse(error.path() == key ? "" : error.path() + ": " + error.message());
  }
  return *this;  // not reached: `refuse` throws
}

}  // namespace linkferry

std::size_t std::hash<linkferry::AppSettings>::operator()(
    const linkferry::AppSettings& settings) const noexcept {
  using namespace linkferry;
  std::size_t hash = 0;
  for (bool flag :
       {settings.alwaysAsk, settings.dryRun, settings.keepHistory, settings.useSessions,
        settings.useHistory, settings.useContext, settings.useSafariHistory,
        settings.pickerAtCursor, settings.orderByUsage, settings.checkLinkSafety,
        settings.updatePopularity, settings.stripTracking, settings.launcherHotkey,
        settings.useSourceWindow, settings.showSiteInfoAutomatically, settings.bounceHotkey,
        settings.unwrapRedirects, settings.expandShortLinks, settings.forceHTTPS,
        settings.appLinks, settings.noPickerWhenLocked, settings.openInBackground,
        settings.cleanCopiedLinks, settings.showMenuBarIcon, settings.desktopNotifications}) {
    hash = hash * 2 + (flag ? 1 : 0);
  }
  mix(hash, settings.logRetentionDays);
  for (const BrowserTarget& target : settings.hiddenTargets) mix(hash, target);
  mix(hash, settings.hiddenTargets.size());
  for (const BrowserTarget& target : settings.targetOrder) mix(hash, target);
  mix(hash, settings.searchURL);
  mix(hash, settings.pickerVisibleCount);
  mix(hash, settings.pickerColumns);
  for (const std::string& host : settings.forceHTTPSExceptions) mix(hash, host);
  for (const auto& [key, value] : settings.appLinkOverrides) {
    mix(hash, key);
    mix(hash, value);
  }
  if (settings.focusDefault) {
    mix(hash, settings.focusDefault->target);
    mix(hash, settings.focusDefault->alwaysUse);
  }
  for (const RememberDuration& duration : settings.rememberDurations) mix(hash, duration);
  mix(hash, static_cast<int>(settings.alternativeModifier));
  if (settings.alternativeBrowser) mix(hash, *settings.alternativeBrowser);
  mix(hash, static_cast<int>(settings.alternativeAction));
  mix(hash, static_cast<int>(settings.openIn));
  mix(hash, static_cast<int>(settings.menuBarIconStyle));
  return hash;
}
