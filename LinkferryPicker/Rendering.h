#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>

// How the picker asks GTK to draw. A small window shown once for a moment draws sooner in
// software (cairo) than through OpenGL, whose context and shaders cost more at start than the
// whole window takes to draw; and once it draws with cairo, GDK's own OpenGL probe at display
// start (a GL context made only to choose a visual, some 75 ms on X11) buys nothing, so it is
// switched off too. GTK reads GSK_RENDERER for the renderer; the probe is switched off by
// "gl-disable" in GDK_DEBUG up to GTK 4.14 (Debian 12 has 4.8) and by GDK_DISABLE=gl from 4.16 on.
namespace linkferry::picker::Rendering {

// The environment's value of a variable; nothing when it is unset.
using Lookup = std::function<std::optional<std::string>(const std::string& name)>;

// The variables to set before GTK 4.`gtkMinorVersion` starts, given the environment as it is.
// The user's own choice wins: a renderer other than cairo keeps OpenGL (it needs it), and a
// GDK_DEBUG or GDK_DISABLE already set is left as the user wrote it. An empty value counts as
// unset.
std::map<std::string, std::string> variables(const Lookup& lookup, unsigned gtkMinorVersion);

// Sets variables(…) in this process's environment for the GTK it runs with. Call before GTK is
// initialised.
void chooseSoftware();

}  // namespace linkferry::picker::Rendering
