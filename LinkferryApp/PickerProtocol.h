#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "browsers/ProfileAvatar.h"
#include "foundation/Json.h"
#include "router/PickerRequest.h"
#include "rules/RememberDuration.h"
#include "settings/PickerModel.h"

// What `linkferry` and the `linkferry-picker` window say to each other: one input document on the
// window's standard input, one answer on its standard output. A window kept warm by the service
// (`linkferry-picker --warm`) says kWarmReady on its standard output once it can show a window
// at once, then reads one WarmRequest line and answers it like the cold window.
namespace linkferry::PickerProtocol {

// A way to remember a choice that the window offers, e.g. {"id": "domain", "title": "example.com"}
// or {"id": "pattern", "title": …, "pattern": "^https?://example\\.com/…"}.
struct ScopeChoice {
  std::string id;     // "page", "host", "domain", "appWindow" or "pattern"
  std::string title;  // what it covers, for the user
  // For "pattern": the regular expression offered for the user to edit.
  std::optional<std::string> pattern;

  bool operator==(const ScopeChoice&) const = default;
};

// Everything the window shows: the request with one label (and optional avatar) per candidate,
// and the settings that shape the window.
struct Input {
  PickerRequest request;
  std::vector<std::string> labels;                   // one per candidate
  std::vector<std::optional<ProfileAvatar>> avatars;  // one per candidate
  std::int64_t visibleCount = 10;                    // rows shown before "more"
  std::int64_t columns = 0;                          // 0 automatic, else 1 to 4
  bool atCursor = false;                             // place the window at the pointer
  std::vector<ScopeChoice> scopes;                   // in display order
  std::size_t defaultScope = 0;                      // index into scopes
  std::vector<RememberDuration> durations;           // "remember for"; "always" comes first

  // The request's JSON (PickerRequest::toJson) whose candidates also carry "label" and "avatar",
  // plus "window": {"visibleCount", "columns", "atCursor", "scopes", "defaultScope",
  // "durations": [{"count", "unit", "title"}]}.
  JsonValue toJson() const;
  // The form toJson writes; "label" falls back to the browser id, "window" and its keys to the
  // defaults. Throws JsonError naming `file` and the key path, also for a request without
  // candidates (there is nothing to choose from).
  static Input parse(std::string_view text, std::string_view file);
  // The same from JSON already parsed.
  static Input fromJson(const JsonReader& json);
};

// The user's answer: a choice (PickerCommand::Choose) with the remember scope and duration selected
// when it was made, or cancel.
struct Answer {
  std::optional<PickerCommand::Choose> choose;  // absent: cancelled
  std::optional<std::string> scope;             // a ScopeChoice id, with makeRule
  std::optional<std::string> pattern;           // the expression, with scope "pattern"
  std::optional<RememberDuration> duration;     // absent: remember for good

  // {"choose": {"index", "makeRule", "privateMode"}, "scope": "domain", "duration": {"count",
  // "unit"}} or {"cancel": true}; with scope "pattern" also "pattern": the expression.
  JsonValue toJson() const;
  // Throws JsonError.
  static Answer fromJson(const JsonReader& json);

  bool operator==(const Answer&) const = default;
};

// The line a warm window writes once GTK runs and its window can be shown at once.
inline constexpr std::string_view kWarmReady = "ready";

// What the service hands a warm window for one click: the window's input and the click's focus
// variables (XDG_ACTIVATION_TOKEN, DESKTOP_STARTUP_ID), by which the desktop lets the window take
// the focus it would give a program the click started.
struct WarmRequest {
  Input input;
  std::map<std::string, std::string> focus;

  // {"input": Input's JSON, "focus": {name: value}}.
  JsonValue toJson() const;
  // Throws JsonError naming `file` and the key path (as Input::parse does).
  static WarmRequest parse(std::string_view text, std::string_view file);
};

}  // namespace linkferry::PickerProtocol
