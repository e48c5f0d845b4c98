#include "launching/OpenOptions.h"

#include <gtest/gtest.h>

namespace linkferry {
namespace {

TEST(OpenIn, NextCyclesAndOnlyExactNamesDecode) {
  EXPECT_EQ(next(OpenIn::newTab), OpenIn::newWindow);
  EXPECT_EQ(next(OpenIn::newWindow), OpenIn::currentTab);
  EXPECT_EQ(next(OpenIn::currentTab), OpenIn::newTab);
  for (const char* text : {"", "NewTab", "newtab", "new_tab", " newTab", "tab"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(openInFromString(text), std::nullopt);
  }
}

TEST(OpenOptions, NewWindowViewLeavesCurrentTabAlone) {
  struct Case {
    OpenIn before;
    bool write;
    OpenIn after;
  } cases[] = {
      {OpenIn::newTab, true, OpenIn::newWindow},
      {OpenIn::newTab, false, OpenIn::newTab},
      {OpenIn::newWindow, true, OpenIn::newWindow},
      {OpenIn::newWindow, false, OpenIn::newTab},
      {OpenIn::currentTab, true, OpenIn::newWindow},
      {OpenIn::currentTab, false, OpenIn::currentTab},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(std::string(toString(test.before)) + (test.write ? " ← true" : " ← false"));
    OpenOptions options{test.before, true};
    options.setNewWindow(test.write);
    EXPECT_EQ(options.openIn, test.after);
    EXPECT_EQ(options.newWindow(), test.after == OpenIn::newWindow);
    EXPECT_TRUE(options.background);
  }
  EXPECT_EQ(OpenOptions::fromNewWindow(true, false), (OpenOptions{OpenIn::newWindow, false}));
  EXPECT_EQ(OpenOptions::fromNewWindow(false, true), (OpenOptions{OpenIn::newTab, true}));
}

TEST(OpenOptions, JsonRequiresBothKeysAndAKnownCase) {
  const OpenOptions options{OpenIn::currentTab, true};
  EXPECT_EQ(Json::encodeCompact(options.toJson()), R"({"background":true,"openIn":"currentTab"})");
  auto decode = [](std::string_view text) {
    return OpenOptions::fromJson(JsonReader(Json::parse(text, "options"), "options"));
  };
  EXPECT_EQ(decode(Json::encodeCompact(options.toJson())), options);
  for (const char* text : {R"({"openIn":"newTab"})", R"({"background":false})",
                           R"({"openIn":"sideways","background":false})",
                           R"({"openIn":"newTab","background":"yes"})"}) {
    SCOPED_TRACE(text);
    EXPECT_THROW(decode(text), JsonError);
  }
}

}  // namespace
}  // namespace linkferry
