#include "launching/LaunchError.h"

#include <type_traits>
#include <utility>

namespace linkferry {

namespace {

// macOS's error number for "not authorised to send Apple events" (errAEEventNotPermitted).
constexpr std::string_view kAutomationRefused = "-1743";

std::string describe(const LaunchError::Case& value) {
  return std::visit(
      [](const auto& payload) -> std::string {
        using T = std::decay_t<decltype(payload)>;
        if constexpr (std::is_same_v<T, LaunchError::UnknownBrowser>) {
          return "unknown browser " + payload.browser;
        } else if constexpr (std::is_same_v<T, LaunchError::UnknownProfile>) {
          return "unknown profile " + payload.profile + " for " + payload.browser;
        } else if constexpr (std::is_same_v<T, LaunchError::Failed>) {
          return "open exited with status " + std::to_string(payload.status);
        } else {
          static_assert(std::is_same_v<T, LaunchError::FailedWithOutput>);
          if (payload.output.find(kAutomationRefused) != std::string::npos) {
            return "Automation permission refused (System Settings \u203A Privacy & Security "
                   "\u203A Automation): " +
                   payload.output;
          }
          return "exited with status " + std::to_string(payload.status) + ": " + payload.output;
        }
      },
      value);
}

}  // namespace

LaunchError::LaunchError(Case value) : m_case(std::move(value)), m_description(describe(m_case)) {}

LaunchError LaunchError::unknownBrowser(std::string browser) {
  return LaunchError(UnknownBrowser{std::move(browser)});
}

LaunchError LaunchError::unknownProfile(std::string browser, std::string profile) {
  return LaunchError(UnknownProfile{std::move(browser), std::move(profile)});
}

LaunchError LaunchError::failed(std::int32_t status) {
  return LaunchError(Failed{status});
}

LaunchError LaunchError::failedWithOutput(std::int32_t status, std::string output) {
  return LaunchError(FailedWithOutput{status, std::move(output)});
}

}  // namespace linkferry
