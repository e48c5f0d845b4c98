// The picker on a terminal: what stands above the rows, and what a typed answer means.
#include "TerminalPicker.h"

#include <gtest/gtest.h>

#include "safety/LinkSafety.h"

namespace linkferry {
namespace {

using Lines = std::vector<std::string>;

PickerRequest request(const std::string& link) {
  PickerRequest request{Uuid::random(), *URL::parse(link), {}, {}, {}, {}, {}, {}, {}};
  request.safety = LinkSafety::inspectAll(request.url);
  return request;
}

// Someone choosing on a terminal reads what the window would show: the link in its own letters,
// the notice or the danger, and the note line by line.
TEST(TerminalPicker, TheHeaderShowsTheLinkItsFindingsAndTheNote) {
  PickerRequest shop = request("https://xn--bcher-kva.de/stra%C3%9Fe");
  shop.note = "Could not open in Firefox: exited with status 1:\nno display\r\n";
  EXPECT_EQ(TerminalPicker::header(shop),
            (Lines{"Open https://bücher.de/straße in:",
                   "  International name: bücher.de (xn--bcher-kva.de)",
                   "  Could not open in Firefox: exited with status 1:", "  no display"}));

  const PickerRequest apple = request("https://\xD0\xB0pple.com/?q=<script>");
  EXPECT_EQ(TerminalPicker::header(apple),
            (Lines{"Open https://xn--pple-43d.com/?q=%3Cscript%3E in:",
                   "  This link looks dangerous:", "    script tag: /?q=<script>",
                   "    international domain name: \xD0\xB0pple.com = xn--pple-43d.com",
                   "    mixes alphabets: \xD0\xB0pple (Latin + Cyrillic)",
                   "    looks like: apple.com"}));

  EXPECT_EQ(TerminalPicker::header(request("https://example.com/")),
            Lines{"Open https://example.com/ in:"});
}

TEST(TerminalPicker, ATypedAnswerChoosesRemembersOrCancels) {
  using Kind = TerminalPicker::Answer::Kind;
  EXPECT_EQ(TerminalPicker::parse("  ", 3).kind, Kind::cancel);
  const TerminalPicker::Answer remembered = TerminalPicker::parse("r2", 3);
  EXPECT_EQ(remembered.kind, Kind::choose);
  EXPECT_EQ(remembered.index, 1u);
  EXPECT_TRUE(remembered.remember);
  EXPECT_TRUE(TerminalPicker::parse("P1", 3).privateMode);
  EXPECT_EQ(TerminalPicker::parse("0", 10).index, 9u);
  for (const char* invalid : {"4", "0", "x", "r", "2x", "-1"}) {
    SCOPED_TRACE(invalid);
    EXPECT_EQ(TerminalPicker::parse(invalid, 3).kind, Kind::invalid);
  }
}

}  // namespace
}  // namespace linkferry
