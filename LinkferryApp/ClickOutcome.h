#pragma once

#include <optional>
#include <string>
#include <vector>

#include "foundation/Json.h"

namespace linkferry {

// What happened to one clicked link, as `linkferry open` shows it. The same value whether the
// link was routed in the command's own process or by the service, so both paths print alike.
struct ClickOutcome {
  std::string link;
  std::string status;  // opened, ignored, picked, cancelled, failed, pick
  std::optional<std::string> target;
  std::optional<std::string> reason;
  std::vector<std::string> trace;
  // For "pick": the picker request (with labels) and the rows the terminal picker shows.
  std::optional<JsonValue> picker;
  std::vector<std::string> rows;
  // For "pick" from the service: everything the picker window shows (PickerProtocol::Input's
  // JSON: the labels, avatars, scopes and the settings that shape it), so the process that shows
  // the window loads no router of its own. Absent when the outcome comes from elsewhere.
  std::optional<JsonValue> pickerInput;
  std::optional<std::string> error;
  // Why the decision log did not take this click; nothing when it did.
  std::optional<std::string> logError;

  bool operator==(const ClickOutcome&) const = default;

  // {"url", "status", "trace", and "target", "reason", "picker", "rows", "pickerInput", "error",
  // "logError" when present}.
  JsonValue toJson() const;
  // The reverse; throws JsonError naming the key path.
  static ClickOutcome fromJson(const JsonReader& json);
  // The "outcome" of the service's answer to a click, choose or cancel request.
  static ClickOutcome fromServiceAnswer(const JsonValue& answer);
  // A link that could not be routed (or whose routing was not heard back), and why.
  static ClickOutcome failed(std::string link, std::string error);

  // The outcome as `linkferry open` prints it: the link, then indented lines for the decision,
  // the picker's rows, the trace and the error. Ends with a line break.
  std::string text() const;
  // The exit status `linkferry open` gives for it: 0, kFailed or kMustChoose.
  int exitStatus() const;
  // A routing failure (the command's internal-error status).
  static constexpr int kFailed = 2;
  // The user must choose and nobody was asked: the picker request was printed instead.
  static constexpr int kMustChoose = 3;
};

}  // namespace linkferry
