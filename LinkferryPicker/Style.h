#pragma once

// The picker's look: spacing, the selection highlight, badges, the bands (danger in red, a notice
// in blue, a note in amber) drawn translucent over the theme's own colours so the window follows
// the desktop's dark or light style.
namespace linkferry::picker::Style {

// Loads the style sheet for the default display and prefers the dark variant of the theme when
// the desktop asks for dark applications (org.gnome.desktop.interface color-scheme).
void apply();

}  // namespace linkferry::picker::Style
