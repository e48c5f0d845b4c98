#include "foundation/DesktopNotice.h"

#include <chrono>
#include <exception>

#include "foundation/Process.h"

namespace linkferry::DesktopNotice {

bool show(const std::string& appName, const std::string& title, const std::string& message,
          const std::string& searchPath) {
  const auto program = Process::findExecutable("notify-send", searchPath);
  if (!program) return false;
  try {
    // "--" keeps a title or message that begins with a dash from being read as an option.
    const Process::DetachedResult result = Process::launchDetached(
        *program, {"--app-name=" + appName, "--", title, message}, std::chrono::seconds(1));
    return result.stillRunning || result.exitStatus == 0;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace linkferry::DesktopNotice
