#include "browsers/DesktopEntries.h"

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace linkferry {
namespace {

namespace fs = std::filesystem;
using testing::TemporaryDirectory;

std::string entryText(const std::string& name, const std::string& extra = "") {
  return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + name +
         " %u\nMimeType=text/html;x-scheme-handler/http;\n" + extra;
}

std::vector<std::string> ids(const std::vector<DesktopEntry>& entries) {
  std::vector<std::string> result;
  for (const auto& entry : entries) result.push_back(entry.id);
  return result;
}

TEST(DesktopEntries, ApplicationFoldersFollowTheXdgVariables) {
  const fs::path home = "/home/u";
  EXPECT_EQ(
      DesktopEntries::applicationDirectories(home, {}),
      (std::vector<fs::path>{
          "/home/u/.local/share/applications", "/usr/local/share/applications",
          "/usr/share/applications", "/home/u/.local/share/flatpak/exports/share/applications",
          "/var/lib/flatpak/exports/share/applications", "/var/lib/snapd/desktop/applications"}));
  EXPECT_EQ(DesktopEntries::applicationDirectories(
                home, {{"XDG_DATA_HOME", "/d"},
                       {"XDG_DATA_DIRS", "/usr/share::/var/lib/flatpak/exports/share:/d"}}),
            (std::vector<fs::path>{"/d/applications", "/usr/share/applications",
                                   "/var/lib/flatpak/exports/share/applications",
                                   "/home/u/.local/share/flatpak/exports/share/applications",
                                   "/var/lib/snapd/desktop/applications"}));
  // Empty variables count as unset.
  EXPECT_EQ(
      DesktopEntries::applicationDirectories(home, {{"XDG_DATA_HOME", ""}, {"XDG_DATA_DIRS", ""}}),
      DesktopEntries::applicationDirectories(home, {}));
}

TEST(DesktopEntries, EarlierFoldersClaimIdentifiersEvenWhenTheirFileIsBroken) {
  TemporaryDirectory user, system;
  user.write("web.desktop", entryText("user-web"));
  user.write("broken.desktop", "[Desktop Entry]\nName=broken\n");
  user.write("notes.txt", entryText("ignored"));
  system.write("web.desktop", entryText("system-web"));
  system.write("broken.desktop", entryText("system-broken"));
  system.write("kde/okular.desktop", entryText("okular"));
  system.write("bad-utf8.desktop", entryText("caf\xE9"));
  system.write("dir.desktop/inner.desktop", entryText("inner"));

  auto entries = DesktopEntries::load({user.path(), "/nonexistent/linkferry", system.path()});
  EXPECT_EQ(ids(entries), (std::vector<std::string>{"web", "dir.desktop-inner", "kde-okular"}));
  EXPECT_EQ(entries[0].name, "user-web");
  EXPECT_EQ(entries[2].path, (system.path() / "kde/okular.desktop").string());
}

TEST(DesktopEntries, HandlersLeaveOutHiddenExcludedAndOwnEntries) {
  TemporaryDirectory folder;
  folder.write("a.desktop", entryText("a"));
  folder.write("hidden.desktop", entryText("hidden", "NoDisplay=true\n"));
  folder.write("viewer.desktop", "[Desktop Entry]\nName=v\nExec=v\nMimeType=image/png;\n");
  folder.write("linkferry.desktop", entryText("linkferry"));
  folder.write("re.sonny.Junction.desktop", entryText("junction"));
  folder.write("mine.desktop", entryText("mine"));
  auto entries = DesktopEntries::load({folder.path()});
  EXPECT_EQ(ids(DesktopEntries::httpHandlers(entries, std::string("mine"))),
            (std::vector<std::string>{"a"}));
}

}  // namespace
}  // namespace linkferry
