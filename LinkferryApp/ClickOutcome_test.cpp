// What `linkferry open` and `linkferry-open` print for a click.
#include "ClickOutcome.h"

#include "ClickNotice.h"
#include "router/Router.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace linkferry {
namespace {

// The trace carries the source window's title (an e-mail's subject) and the app named with
// --source-app; neither may draw on the terminal or forge a line of the outcome.
TEST(ClickOutcome, TextShowsOutsideTextEscapedOneLineEach) {
  ClickOutcome outcome;
  outcome.link = "https://news.example/";
  outcome.status = "opened";
  outcome.target = "Firefox \u202Ekrow";
  outcome.reason = "rule \xc2\x9b" "2J";
  outcome.trace = {"source app: mail\x1b]0;owned\x07", "window: Re: hi\n  → opened in Bank"};
  outcome.error = "bad\rline";
  EXPECT_EQ(outcome.text(),
            "https://news.example/\n"
            "  → opened in Firefox \\u{202E}krow: rule \\u{009B}2J\n"
            "    source app: mail\\x1b]0;owned\\x07\n"
            "    window: Re: hi\\x0a  → opened in Bank\n"
            "  error: bad\\x0dline\n");

  // The picker request stays JSON that reads back the same, in ASCII.
  ClickOutcome pick;
  pick.link = "https://news.example/";
  pick.status = "pick";
  pick.picker = JsonValue{{"sourceWindow", "Re: \u202Ehi\x1b"}};
  pick.rows = {"1  Firefox — \x1b[31mred"};
  const std::string text = pick.text();
  EXPECT_NE(text.find("    1  Firefox — \\x1b[31mred\n"), std::string::npos) << text;
  const std::string request = text.substr(text.find("picker request: ") + 16);
  EXPECT_TRUE(std::all_of(request.begin(), request.end(),
                          [](char c) { return c == '\n' || (c >= 0x20 && c < 0x7f); }))
      << request;
  EXPECT_EQ(JsonValue::parse(request), *pick.picker);
}

// Only what the user could not see otherwise is told: a cancelled click is their own doing, a
// dangerous link that nobody could confirm is not, and the notice says it was not opened.
TEST(ClickNotice, ADangerousLinkNobodyConfirmedIsToldAPlainCancelIsNot) {
  ClickOutcome outcome;
  outcome.link = "https://docs.example/?next=javascript:alert(1)";
  outcome.status = "cancelled";
  EXPECT_FALSE(ClickNotice::of(outcome));
  outcome.reason = Router::kUnconfirmedDangerReason;
  const std::optional<ClickNotice::Notice> notice = ClickNotice::of(outcome);
  ASSERT_TRUE(notice);
  EXPECT_EQ(notice->summary, "A dangerous link was not opened");
  EXPECT_TRUE(ClickNotice::line(*notice).starts_with("The link was not opened: it looks dangerous"));
}

}  // namespace
}  // namespace linkferry
