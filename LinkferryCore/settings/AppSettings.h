#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "browsers/BrowserTarget.h"
#include "foundation/Json.h"
#include "launching/OpenOptions.h"
#include "routing/FocusDefault.h"
#include "rules/RememberDuration.h"
#include "settings/SettingsChoices.h"

namespace linkferry {

// A value that `AppSettings::withValue` refuses: an unknown key, or a value of the wrong type
// ("alwaysAsk: expected a boolean (true or false), got \"yes\"").
class SettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Every preference of the user, stored as settings.json in the data folder. A plain value: build
// it, change fields, save it; share it as std::shared_ptr<const AppSettings> between threads.
//
// The fields are declared in the order of the file's key list; each JSON key is the field's
// name. An aggregate, so `AppSettings{.alwaysAsk = false}` sets one field and leaves the others
// at their defaults. Nothing is clamped until the value goes through `decode`.
struct AppSettings {
  bool alwaysAsk = true;
  bool dryRun = false;
  std::int64_t logRetentionDays = 30;
  bool keepHistory = true;
  std::vector<BrowserTarget> hiddenTargets = {};
  std::vector<BrowserTarget> targetOrder = {};
  bool useSessions = true;
  bool useHistory = true;
  bool useContext = true;
  bool useSafariHistory = false;
  bool pickerAtCursor = false;
  bool orderByUsage = true;
  bool checkLinkSafety = true;
  bool updatePopularity = true;
  bool stripTracking = true;
  std::string searchURL = kDefaultSearchURL;
  bool launcherHotkey = true;
  bool useSourceWindow = false;
  bool showSiteInfoAutomatically = false;
  bool bounceHotkey = true;
  std::int64_t pickerVisibleCount = 10;  // 4...20 once read from a file
  std::int64_t pickerColumns = 0;        // 0 (automatic) ...4 once read from a file
  bool unwrapRedirects = true;
  bool expandShortLinks = true;
  bool forceHTTPS = false;
  std::vector<std::string> forceHTTPSExceptions = {};
  bool appLinks = true;
  std::map<std::string, bool> appLinkOverrides = {};
  bool noPickerWhenLocked = true;
  std::optional<FocusDefault> focusDefault = std::nullopt;
  std::vector<RememberDuration> rememberDurations = RememberDuration::defaults();
  AlternativeModifier alternativeModifier = AlternativeModifier::commandOption;
  std::optional<BrowserTarget> alternativeBrowser = std::nullopt;
  AlternativeAction alternativeAction = AlternativeAction::openAlternative;
  OpenIn openIn = OpenIn::newTab;
  bool openInBackground = false;
  bool cleanCopiedLinks = false;
  bool showMenuBarIcon = true;
  MenuBarIconStyle menuBarIconStyle = MenuBarIconStyle::stack;
  // Tell the user by a desktop notification what a click without a terminal could not show them
  // (a launch that failed, a choice not remembered, a rule or container passed over, the log).
  bool desktopNotifications = true;

  static constexpr const char* kDefaultSearchURL = "https://www.google.com/search?q=%s";
  static constexpr std::int64_t kMinPickerVisibleCount = 4;
  static constexpr std::int64_t kMaxPickerVisibleCount = 20;
  static constexpr std::int64_t kMaxPickerColumns = 4;
  // A settings file above this size is refused when read (a few kilobytes is usual).
  static constexpr std::uint64_t kFileLimit = 4 * 1024 * 1024;

  // The legacy view of `openIn`: true exactly when it is `newWindow`. Setting true selects
  // `newWindow`; setting false turns `newWindow` into `newTab` and leaves `currentTab` alone.
  bool openInNewWindow() const { return openIn == OpenIn::newWindow; }
  void setOpenInNewWindow(bool value);

  // `openIn` and `openInBackground` (as `background`).
  OpenOptions openOptions() const { return OpenOptions{openIn, openInBackground}; }

  // The targets the picker offers: `targetOrder` then `available`, keeping only available,
  // unhidden targets, each once, in that order.
  std::vector<BrowserTarget> orderedTargets(const std::vector<BrowserTarget>& available) const;

  // The settings in `file`; the defaults when no file exists (nothing is written). Throws
  // std::system_error when the file cannot be read, is no regular file or is larger than
  // `kFileLimit`, and JsonError ("<file>: <key>: <problem>")
  // when it is not valid settings. Never changes the file.
  static AppSettings load(const std::filesystem::path& file);
  // The settings of a file's text, `fileName` naming it in errors. Missing and null keys take
  // their defaults and unknown keys are ignored. A value of the wrong type fails, except that an
  // undecodable `rememberDurations`, `alternativeModifier`, `alternativeAction`, `openIn` or
  // `menuBarIconStyle` takes its default silently; `openInNewWindow` stands in for a missing or
  // undecodable `openIn`. `pickerVisibleCount` and `pickerColumns` are clamped and
  // `rememberDurations` normalised at the current date. Throws JsonError.
  static AppSettings decode(std::string_view text, std::string_view fileName);
  static AppSettings fromJson(const JsonReader& json);

  // Writes the file atomically (parent folders created): pretty-printed, keys sorted, every key
  // but an absent `focusDefault` or `alternativeBrowser`. Throws std::system_error.
  void save(const std::filesystem::path& file) const;
  std::string encode() const;
  JsonValue toJson() const;

  // The JSON keys in the order of the record's fields, `openInNewWindow` between `openIn` and
  // `openInBackground`.
  static const std::vector<std::string_view>& jsonKeys();
  // The kind of value a key takes, in words ("a boolean (true or false)"); nothing for an unknown
  // key.
  static std::optional<std::string_view> expectedValue(std::string_view key);
  // A copy with one key changed, read strictly: the forgiving keys refuse undecodable values too,
  // and JSON null restores the default. Clamps and normalises as `decode` does. Throws
  // SettingsError naming the key and the expected value.
  AppSettings withValue(std::string_view key, const JsonValue& value) const;

  bool operator==(const AppSettings&) const = default;
};

}  // namespace linkferry

template <>
struct std::hash<linkferry::AppSettings> {
  std::size_t operator()(const linkferry::AppSettings& settings) const noexcept;
};
