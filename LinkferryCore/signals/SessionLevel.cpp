#include "signals/SessionLevel.h"

namespace linkferry {

std::string_view toString(SessionLevel level) noexcept {
  switch (level) {
    case SessionLevel::none:
      return "none";
    case SessionLevel::weak:
      return "weak";
    case SessionLevel::strong:
      return "strong";
  }
  return "none";
}

std::optional<SessionLevel> sessionLevelFromRawValue(int rawValue) noexcept {
  if (rawValue < 0 || rawValue > 2) return std::nullopt;
  return static_cast<SessionLevel>(rawValue);
}

}  // namespace linkferry
