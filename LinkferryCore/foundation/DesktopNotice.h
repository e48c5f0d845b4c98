#pragma once

#include <string>

namespace linkferry::DesktopNotice {

// Shows a desktop notification through notify-send when it is found on `searchPath` (a
// PATH-style list); false when it is missing, could not start or failed. Never waits longer than
// a second and never throws: a notice is a courtesy beside what the caller logs.
bool show(const std::string& appName, const std::string& title, const std::string& message,
          const std::string& searchPath);

}  // namespace linkferry::DesktopNotice
