#pragma once

#include <optional>
#include <string>
#include <vector>

#include "foundation/URL.h"

namespace linkferry {

// What installed-app discovery needs from the macOS workspace (Launch Services and bundles).
// The macOS application supplies the real one; tests supply a fake. Implementations must be
// callable from any thread.
class Workspace {
 public:
  virtual ~Workspace() = default;
  // Paths of the application bundles that can open `url`, in the system's order.
  virtual std::vector<std::string> applicationsToOpen(const URL& url) const = 0;
  // The bundle identifier of the application bundle at `path`; nothing when it has none or
  // cannot be opened as a bundle.
  virtual std::optional<std::string> bundleIdentifier(const std::string& path) const = 0;
};

}  // namespace linkferry
