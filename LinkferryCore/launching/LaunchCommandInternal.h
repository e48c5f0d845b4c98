#pragma once

#include <stdexcept>
#include <string>

#include "foundation/URL.h"

// Shared by the macOS, Linux and current-tab builders of LaunchCommand; not part of its API.
namespace linkferry::LaunchCommand {

// The text a plan passes for `url`. A link without a scheme is refused with std::invalid_argument:
// only a scheme guarantees that the text does not begin with "-", which a browser would read as a
// flag wherever it stands on its command line.
inline const std::string& launchableLink(const URL& url) {
  if (!url.scheme() || url.absoluteString().empty() || url.absoluteString().front() == '-') {
    throw std::invalid_argument("a link without a scheme cannot be opened: " +
                                url.absoluteString());
  }
  return url.absoluteString();
}

}  // namespace linkferry::LaunchCommand
