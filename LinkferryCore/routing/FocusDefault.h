#pragma once

#include "browsers/BrowserTarget.h"
#include "foundation/Json.h"

namespace linkferry {

// The browser chosen for the active system Focus filter, held in the settings as `focusDefault`.
// With `alwaysUse` the focus stage decides for it; otherwise it ranks it far ahead of the rest.
struct FocusDefault {
  BrowserTarget target;
  bool alwaysUse = false;

  // {"alwaysUse": …, "target": {…}}.
  JsonValue toJson() const;
  // Both keys are required. Throws JsonError naming the key path.
  static FocusDefault fromJson(const JsonReader& json);

  bool operator==(const FocusDefault&) const = default;
};

}  // namespace linkferry
