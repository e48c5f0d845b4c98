#pragma once

#include <string>

#include "browsers/BrowserTarget.h"

namespace linkferry {

// One browser database that could not be read while building the signal index.
struct SourceIssue {
  BrowserTarget target;
  std::string source;   // "cookies" or "history"
  std::string message;  // the error's text

  bool operator==(const SourceIssue&) const = default;
};

}  // namespace linkferry
