#pragma once

#include <string>

#include "browsers/BrowserCatalog.h"
#include "browsers/BrowserTarget.h"

// The short name of a target shown to the user (rule names made from the picker, notes of failed
// launches): "Firefox — Work · Shopping (private)".
namespace linkferry::TargetLabel {

// The browser's display name (or its raw identifier when the catalog lacks it), then
// " — " and the profile's display name (or its raw identifier), then " · " and the container's
// name from the known profile (or its raw identifier), then the localised " (private)". Parts the
// target does not name are left out. Never fails.
std::string text(const BrowserTarget& target, const BrowserCatalog& catalog);

}  // namespace linkferry::TargetLabel
