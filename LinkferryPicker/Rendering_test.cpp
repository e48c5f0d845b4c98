// How the picker asks GTK to draw in software and to leave OpenGL alone, and how the user's own
// choice of renderer or debug flags keeps the upper hand.
#include "Rendering.h"

#include <gtest/gtest.h>

namespace linkferry::picker {
namespace {

using Variables = std::map<std::string, std::string>;

Variables chosen(const Variables& environment, unsigned gtkMinorVersion = 8) {
  return Rendering::variables(
      [&](const std::string& name) -> std::optional<std::string> {
        const auto found = environment.find(name);
        if (found == environment.end()) return std::nullopt;
        return found->second;
      },
      gtkMinorVersion);
}

TEST(Rendering, CairoWithoutTheOpenGLProbeInTheWordsOfTheRunningGtk) {
  EXPECT_EQ(chosen({}), (Variables{{"GSK_RENDERER", "cairo"}, {"GDK_DEBUG", "gl-disable"}}));
  EXPECT_EQ(chosen({}, 14), (Variables{{"GSK_RENDERER", "cairo"}, {"GDK_DEBUG", "gl-disable"}}));
  EXPECT_EQ(chosen({}, 16), (Variables{{"GSK_RENDERER", "cairo"}, {"GDK_DISABLE", "gl"}}));
  // Set but empty is unset.
  EXPECT_EQ(chosen({{"GSK_RENDERER", ""}, {"GDK_DEBUG", ""}}),
            (Variables{{"GSK_RENDERER", "cairo"}, {"GDK_DEBUG", "gl-disable"}}));
}

TEST(Rendering, TheUsersRendererAndFlagsWin) {
  // A renderer that needs OpenGL keeps it.
  EXPECT_EQ(chosen({{"GSK_RENDERER", "gl"}}), Variables{});
  EXPECT_EQ(chosen({{"GSK_RENDERER", "ngl"}}, 16), Variables{});
  // The user's cairo still goes without the probe.
  EXPECT_EQ(chosen({{"GSK_RENDERER", "cairo"}}), (Variables{{"GDK_DEBUG", "gl-disable"}}));
  // Debug flags the user set are left as written.
  EXPECT_EQ(chosen({{"GDK_DEBUG", "events"}}), (Variables{{"GSK_RENDERER", "cairo"}}));
  EXPECT_EQ(chosen({{"GDK_DISABLE", "vulkan"}}, 16), (Variables{{"GSK_RENDERER", "cairo"}}));
  // A flag of the other GTK version does not stand in the way.
  EXPECT_EQ(chosen({{"GDK_DISABLE", "vulkan"}}, 8),
            (Variables{{"GSK_RENDERER", "cairo"}, {"GDK_DEBUG", "gl-disable"}}));
}

}  // namespace
}  // namespace linkferry::picker
