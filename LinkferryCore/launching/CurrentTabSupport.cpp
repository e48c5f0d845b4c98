#include "launching/CurrentTabSupport.h"

namespace linkferry {

std::string_view toString(CurrentTabSupport::Reason reason) {
  switch (reason) {
    case CurrentTabSupport::Reason::notScriptable:
      return "notScriptable";
    case CurrentTabSupport::Reason::severalProfiles:
      return "severalProfiles";
    case CurrentTabSupport::Reason::separateInstance:
      return "separateInstance";
    case CurrentTabSupport::Reason::privateWindow:
      return "privateWindow";
  }
  return "notScriptable";
}

std::optional<CurrentTabSupport::Reason> currentTabReasonFromString(std::string_view text) {
  for (CurrentTabSupport::Reason reason : allCurrentTabReasons) {
    if (toString(reason) == text) return reason;
  }
  return std::nullopt;
}

std::optional<std::string_view> warningText(CurrentTabSupport::Reason reason) {
  switch (reason) {
    case CurrentTabSupport::Reason::notScriptable:
      return "no AppleScript support for tabs";
    case CurrentTabSupport::Reason::severalProfiles:
      return "several profiles, the front window may belong to another one";
    case CurrentTabSupport::Reason::separateInstance:
      return "another instance runs the same app";
    case CurrentTabSupport::Reason::privateWindow:
      return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace linkferry
