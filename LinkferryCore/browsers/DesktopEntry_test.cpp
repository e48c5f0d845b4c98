#include "browsers/DesktopEntry.h"

#include <gtest/gtest.h>

namespace linkferry {
namespace {

std::optional<DesktopEntry> parse(std::string_view text) {
  return DesktopEntry::parse(text, "id", "/p/id.desktop");
}

TEST(DesktopEntry, ReadsTheMainGroupOnly) {
  auto entry = parse(
      "# comment\n[Desktop Entry]\r\n  Name = Web  \nName[de]=Netz\nName=Second\n"
      "Exec=web %u\nMimeType= text/html ;x-scheme-handler/https;;\nNoDisplay=false\n"
      "[Desktop Action new]\nName=New window\nExec=web --new-window\nHidden=true\n");
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->id, "id");
  EXPECT_EQ(entry->name, "Web");
  EXPECT_EQ(entry->exec, (std::vector<std::string>{"web"}));
  EXPECT_EQ(entry->mimeTypes, (std::vector<std::string>{"text/html", "x-scheme-handler/https"}));
  EXPECT_FALSE(entry->hidden);
  EXPECT_TRUE(entry->handlesWebLinks());
  EXPECT_EQ(entry->path, "/p/id.desktop");
}

TEST(DesktopEntry, RejectsEntriesThatCannotBeStarted) {
  const struct {
    const char* text;
    bool accepted;
  } cases[] = {
      {"[Desktop Entry]\nName=A\nExec=a\n", true},  // no Type counts as Application
      {"[Desktop Entry]\nType=Application\nName=A\nExec=a\n", true},
      {"[Desktop Entry]\nType=Link\nName=A\nExec=a\nURL=https://a.test\n", false},
      {"[Desktop Entry]\nName[en]=A\nExec=a\n", false},  // only localized names
      {"[Desktop Entry]\nName=A\n", false},
      {"[Desktop Entry]\nName=A\nExec=%u\n", false},
      {"[Desktop Entry]\nName=A\nExec=\"/usr/bin/a %u\n", false},  // quote left open
      {"[Desktop Entry]\nName=A\nExec=\"\" %u\n", false},          // empty program
      {"Name=A\nExec=a\n", false},                                 // outside any group
      {"[Desktop Entry ]\nName=A\nExec=a\n", false},
      {"", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parse(c.text).has_value(), c.accepted);
  }
}

TEST(DesktopEntry, HiddenByEitherKey) {
  EXPECT_TRUE(parse("[Desktop Entry]\nName=A\nExec=a\nNoDisplay=true\n")->hidden);
  EXPECT_TRUE(parse("[Desktop Entry]\nName=A\nExec=a\nHidden=true\n")->hidden);
  EXPECT_FALSE(parse("[Desktop Entry]\nName=A\nExec=a\nHidden=True\n")->hidden);
  EXPECT_FALSE(
      parse("[Desktop Entry]\nName=A\nExec=a\nMimeType=x-scheme-handler/ftp\n")->handlesWebLinks());
}

}  // namespace
}  // namespace linkferry
