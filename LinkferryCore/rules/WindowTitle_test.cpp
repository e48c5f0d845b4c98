#include "rules/WindowTitle.h"

#include <gtest/gtest.h>

#include "foundation/Regex.h"
#include "foundation/Text.h"

namespace linkferry {
namespace {

TEST(WindowTitle, RecognisesTheSameWorkspaceServerMailboxAndHost) {
  struct Case {
    const char* title;
    std::optional<std::string> app;
    const char* label;
    const char* sibling;    // a later title the pattern must recognise
    const char* stranger;   // one it must not
  };
  const Case cases[] = {
      {"(3) #general | My Server - Discord", std::nullopt, "My Server",
       "#random | my server - Discord", "#general | My Server 2 - Discord"},
      {"general (Channel) - Acme - 3 new items - Slack", "com.tinyspeck.slackmacgap", "Acme",
       "random (Channel) - Acme - Slack", "general (Channel) - Acme Corp - Slack"},
      {"Chat | Jane Doe | Contoso | Microsoft Teams", std::nullopt, "Contoso",
       "Calendar | Other | Contoso | Microsoft Teams", "Chat | Jane | Fabrikam | Microsoft Teams"},
      // Two parts only: no organisation to recognise, the exact title is used.
      {"Chat | Contoso | Microsoft Teams", std::nullopt, "Chat | Contoso | Microsoft Teams",
       "chat | contoso | microsoft teams", "Chat | Contoso | Microsoft Teams 2"},
      {"Inbox – Work (1,204 messages)", "com.apple.mail", "Work",
       "Sent – Work (3 messages)", "Inbox – Home (1 message)"},
      // The mail form is for the mail app only.
      {"Inbox – Work (3 messages)", "org.example.editor", "Inbox – Work (3 messages)",
       "Inbox – Work (3 messages)", "Sent – Work (3 messages)"},
      {"me@build.example.test: ~/src", "com.googlecode.iterm2", "build.example.test",
       "root@build.example.test:/", "me@build.example.test2: ~"},
      {"me@build: ~/src", "org.gnome.Terminal", "build", "me@build: /tmp", "me@builder: ~"},
      {"  Report (final).txt — Editor\n", std::nullopt, "Report (final).txt — Editor",
       "Report (final).txt — Editor", "Report (final)xtxt — Editor"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    const auto derived = WindowTitle::derive(c.title, c.app);
    ASSERT_TRUE(derived);
    EXPECT_EQ(derived->label, c.label);
    const auto regex = Regex::compile(derived->pattern, Regex::Options::caseInsensitive);
    ASSERT_TRUE(regex) << derived->pattern;
    EXPECT_TRUE(regex->matches(Text::trimmed(c.title))) << derived->pattern;
    EXPECT_TRUE(regex->matches(c.sibling)) << derived->pattern;
    EXPECT_FALSE(regex->matches(c.stranger)) << derived->pattern;
  }
  EXPECT_EQ(WindowTitle::derive(" \n\t", std::nullopt), std::nullopt);
  // A Discord title whose server part is only an unread counter falls through to the exact form.
  EXPECT_EQ(WindowTitle::derive("(2) - Discord", std::nullopt)->pattern, R"(^\(2\) - Discord$)");
}

TEST(WindowTitle, DisplayJoinsAppAndTitle) {
  EXPECT_EQ(WindowTitle::display("Slack", "general - Acme - Slack"),
            "Slack — general - Acme - Slack");
  EXPECT_EQ(WindowTitle::display("Slack", ""), "Slack");
  EXPECT_EQ(WindowTitle::display("Slack", std::nullopt), "Slack");
}

}  // namespace
}  // namespace linkferry
