#include "launching/LaunchEnvironment.h"

#include <utility>

namespace linkferry::LaunchEnvironment {

const std::vector<std::string_view>& clickerVariables() {
  static const auto& variables = *new std::vector<std::string_view>{
      "CHROME_DESKTOP", "GIO_LAUNCHED_DESKTOP_FILE", "GIO_LAUNCHED_DESKTOP_FILE_PID",
      "BAMF_DESKTOP_FILE_HINT"};
  return variables;
}

const std::vector<std::string_view>& focusVariables() {
  static const auto& variables =
      *new std::vector<std::string_view>{"XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID"};
  return variables;
}

const std::vector<std::string_view>& displayVariables() {
  static const auto& variables = *new std::vector<std::string_view>{
      "DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "XDG_SESSION_TYPE", "XDG_CURRENT_DESKTOP"};
  return variables;
}

Environment forChild(Environment base, const std::optional<Environment>& click) {
  for (std::string_view name : clickerVariables()) base.erase(std::string(name));
  if (click) {
    for (const auto* names : {&focusVariables(), &displayVariables()}) {
      for (std::string_view name : *names) {
        const std::string key(name);
        base.erase(key);
        if (auto found = click->find(key); found != click->end()) base.emplace(key, found->second);
      }
    }
  }
  return base;
}

}  // namespace linkferry::LaunchEnvironment
