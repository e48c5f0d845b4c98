#pragma once

#include <string>

#include "browsers/BrowserCatalog.h"
#include "browsers/BrowserTarget.h"
#include "routing/RouteTarget.h"

// The short name of a target shown to the user (rule names made from the picker, notes of failed
// launches): "Firefox — Work · Shopping (private)".
namespace linkferry::TargetLabel {

// The browser's display name (or its raw identifier when the catalog lacks it), then
// " — " and the profile's display name (or its raw identifier), then " · " and the container's
// name from the known profile (or its raw identifier), then the localised " (private)". Parts the
// target does not name are left out. Never fails.
std::string text(const BrowserTarget& target, const BrowserCatalog& catalog);

// The label of any route target, the one place every front end takes it from: `text` of a
// browser target, the app's identifier for a link opened in an app (followed by the app's own
// link in brackets when the app gets one: "spotify (spotify:album:xyz)"), "nothing" for ignore.
std::string text(const RouteTarget& target, const BrowserCatalog& catalog);

}  // namespace linkferry::TargetLabel
