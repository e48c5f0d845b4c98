#include "Rendering.h"

#include <gtk/gtk.h>

#include <cstdlib>

namespace linkferry::picker::Rendering {

namespace {

// The first GTK 4 minor version that reads GDK_DISABLE.
constexpr unsigned kFirstWithGdkDisable = 16;

}  // namespace

std::map<std::string, std::string> variables(const Lookup& lookup, unsigned gtkMinorVersion) {
  const auto isSet = [&](const std::string& name) {
    const std::optional<std::string> value = lookup(name);
    return value && !value->empty();
  };
  std::map<std::string, std::string> result;
  if (isSet("GSK_RENDERER")) {
    if (lookup("GSK_RENDERER") != "cairo") return result;
  } else {
    result["GSK_RENDERER"] = "cairo";
  }
  // Each version warns about the other's word, so only the one it knows is written.
  if (gtkMinorVersion < kFirstWithGdkDisable) {
    if (!isSet("GDK_DEBUG")) result["GDK_DEBUG"] = "gl-disable";
  } else if (!isSet("GDK_DISABLE")) {
    result["GDK_DISABLE"] = "gl";
  }
  return result;
}

void chooseSoftware() {
  const auto lookup = [](const std::string& name) -> std::optional<std::string> {
    const char* value = std::getenv(name.c_str());
    if (!value) return std::nullopt;
    return std::string(value);
  };
  for (const auto& [name, value] : variables(lookup, gtk_get_minor_version())) {
    ::setenv(name.c_str(), value.c_str(), 1);
  }
}

}  // namespace linkferry::picker::Rendering
