#include "launching/HelperProtocol.h"

#include <stdexcept>

#include <gtest/gtest.h>

#include "foundation/Base64.h"
#include "foundation/Json.h"

namespace linkferry {
namespace {

URL parsed(std::string_view text) {
  auto url = URL::parse(text);
  if (!url) throw std::invalid_argument("test URL does not parse: " + std::string(text));
  return *url;
}

LaunchPlan chromePlan() {
  return LaunchPlan{
      "/usr/bin/open",
      {"-g", "-na", "/Applications/Google Chrome.app", "--args", "--profile-directory=Profile 1",
       "https://a.test/?q=1&r=+%20"},
      {"ünïcode warning"},
      {LaunchPlan{"/usr/bin/open", {"-b", "com.google.Chrome", "https://a.test/"}, {}}},
      "opened without profile"};
}

// The payload a conforming sender puts in the "plan" item for this JSON text.
std::string payloadFor(std::string_view json) {
  return Base64::encodeURLUnpadded(json);
}

TEST(HelperProtocol, PlanRoundTripsThroughItsURL) {
  const LaunchPlan plan = chromePlan();
  const URL url = HelperProtocol::url(plan);
  EXPECT_EQ(url.scheme(), "linkferry-helper");
  EXPECT_EQ(url.host(), "run");
  EXPECT_EQ(url.percentEncodedPath(), "");
  ASSERT_EQ(url.queryItems().size(), 1u);
  EXPECT_EQ(url.queryItems()[0].name, "plan");
  EXPECT_EQ(url.queryItems()[0].value->find_first_not_of(
                "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
            std::string::npos);
  EXPECT_EQ(HelperProtocol::plan(url), plan);
  // The text survives a trip through the system as a string.
  EXPECT_EQ(HelperProtocol::plan(parsed(url.absoluteString())), plan);
}

TEST(HelperProtocol, PaddingRemovedBySenderIsRestored) {
  // Grow the plan until its base64 form ends in "==", the case that needs two characters back.
  LaunchPlan plan{"/usr/bin/open", {"https://a.test/"}, {}};
  while (!Base64::encode(Json::encodeCompact(plan.toJson())).ends_with("==")) {
    plan.arguments[0] += "x";
  }
  const std::string padded = Base64::encode(Json::encodeCompact(plan.toJson()));
  const URL url = HelperProtocol::url(plan);
  EXPECT_EQ(url.queryItems()[0].value->size(), padded.size() - 2);
  EXPECT_EQ(HelperProtocol::plan(url), plan);
}

TEST(HelperProtocol, PlanDecodingIsStrictAboutSchemeHostAndItems) {
  const std::string payload = HelperProtocol::url(chromePlan()).queryItems()[0].value.value();
  const std::string other = payloadFor(R"({"executable":"/usr/bin/open","arguments":["b"],)"
                                       R"("warnings":[],"fallbacks":[]})");
  struct Case {
    std::string url;
    bool decodes;
  } cases[] = {
      {"linkferry-helper://run?plan=" + payload, true},
      {"LinkFerry-Helper://run?plan=" + payload, true},
      {"linkferry-helper://run/some/path?x=1&plan=" + payload + "&plan=" + other, true},
      {"linkferry-helper://RUN?plan=" + payload, false},
      {"linkferry-helper://Run?plan=" + payload, false},
      {"linkferry-helper://handler?plan=" + payload, false},
      {"linkferry-helpers://run?plan=" + payload, false},
      {"https://run?plan=" + payload, false},
      {"linkferry-helper:run?plan=" + payload, false},
      {"linkferry-helper://run?Plan=" + payload, false},
      {"linkferry-helper://run?plan", false},
      {"linkferry-helper://run?plan=", false},
      {"linkferry-helper://run?plan&plan=" + payload, false},  // the first item has no value
      {"linkferry-helper://run", false},
      {"linkferry-helper://run?plan=" + payload.substr(0, payload.size() - 5), false},
      {"linkferry-helper://run?plan=" + payload.substr(1), false},
      {"linkferry-helper://run?plan=" + payload + "A", false},
      {"linkferry-helper://run?plan=" + payload + "%3D", false},
      {"linkferry-helper://run?plan=" + payload.substr(0, 8) + "." + payload.substr(8), false},
      {"linkferry-helper://run?plan=" + payloadFor("not json"), false},
      {"linkferry-helper://run?plan=" + payloadFor("[]"), false},
      {"linkferry-helper://run?plan=" + payloadFor(R"({"executable":"/x","arguments":[],)"
                                                   R"("warnings":[]})"),
       false},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.url);
    auto decoded = HelperProtocol::plan(parsed(test.url));
    EXPECT_EQ(decoded.has_value(), test.decodes);
    if (decoded && test.decodes) {
      EXPECT_EQ(*decoded, chromePlan());
    }
  }
}

TEST(HelperProtocol, PayloadIsReadThroughPercentDecoding) {
  // A sender that escaped the payload's characters still sends the same plan; "+" is literal.
  const std::string json = R"({"executable":"/usr/bin/open","arguments":["~~~~"],)"
                           R"("warnings":[],"fallbacks":[]})";
  std::string payload = payloadFor(json);
  ASSERT_NE(payload.find('-'), std::string::npos);  // "~~~" encodes with "-" and "_" alike
  std::string escaped;
  for (char c : payload) escaped += (c == '-') ? std::string("%2D") : std::string(1, c);
  std::string standard = payload;
  for (char& c : standard) c = c == '-' ? '+' : c == '_' ? '/' : c;
  for (const std::string& value : {escaped, standard}) {
    SCOPED_TRACE(value);
    auto decoded = HelperProtocol::plan(parsed("linkferry-helper://run?plan=" + value));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->arguments, std::vector<std::string>{"~~~~"});
  }
}

TEST(HelperProtocol, EncodingRefusesTextThatJsonWouldAlter) {
  LaunchPlan plan = chromePlan();
  plan.fallbacks[0].arguments.push_back("https://a.test/\xff");
  EXPECT_THROW(HelperProtocol::url(plan), std::invalid_argument);
}

TEST(HelperProtocol, HandlerRequestsRoundTripAndAreChecked) {
  const URL url = HelperProtocol::handlerURL("Zoommtg", "us.zoom.xos");
  EXPECT_EQ(url.absoluteString(), "linkferry-helper://handler?scheme=Zoommtg&app=us.zoom.xos");
  using Request = HelperProtocol::HandlerRequest;
  EXPECT_EQ(HelperProtocol::handlerRequest(url), (Request{"zoommtg", "us.zoom.xos"}));

  struct Case {
    std::string url;
    std::optional<Request> request;
  } cases[] = {
      {"LINKFERRY-HELPER://handler?app=com.a&scheme=Web%2BCal", Request{"web+cal", "com.a"}},
      {"linkferry-helper://handler?scheme=&app=com.a", Request{"", "com.a"}},
      {"linkferry-helper://handler?scheme=x&app=com.a&app=com.b&scheme=y", Request{"x", "com.a"}},
      {"linkferry-helper://handler?scheme=x&app=", std::nullopt},
      {"linkferry-helper://handler?scheme=x&app", std::nullopt},
      {"linkferry-helper://handler?scheme=x", std::nullopt},
      {"linkferry-helper://handler?scheme&app=com.a", std::nullopt},
      {"linkferry-helper://handler?app=com.a", std::nullopt},
      {"linkferry-helper://Handler?scheme=x&app=com.a", std::nullopt},
      {"linkferry-helper://run?scheme=x&app=com.a", std::nullopt},
      {"linkferry://handler?scheme=x&app=com.a", std::nullopt},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.url);
    EXPECT_EQ(HelperProtocol::handlerRequest(parsed(test.url)), test.request);
  }
  // The two request kinds never stand in for each other.
  EXPECT_EQ(HelperProtocol::plan(url), std::nullopt);
  EXPECT_EQ(HelperProtocol::handlerRequest(HelperProtocol::url(chromePlan())), std::nullopt);
}

TEST(HelperProtocol, HandlerValuesThatNeedEscapingSurvive) {
  const URL url = HelperProtocol::handlerURL("a&b=c", "com.x y#z");
  EXPECT_EQ(HelperProtocol::handlerRequest(url),
            (HelperProtocol::HandlerRequest{"a&b=c", "com.x y#z"}));
}

TEST(HelperProtocol, NeedsHelperOnlyForWhatTheSandboxCannotRun) {
  struct Case {
    LaunchPlan plan;
    bool needsHelper;
  } cases[] = {
      {{"/usr/bin/open", {"-b", "com.apple.Safari", "https://a.test/"}, {}}, false},
      {{"/usr/bin/open", {"-g", "-a", "/Applications/Firefox.app", "https://a.test/"}, {}}, false},
      {{"/usr/bin/open", {"-na", "/Applications/Firefox.app", "--args", "--new-window"}, {}}, true},
      {{"/usr/bin/open", {"-a", "/Applications/X.app", "https://a.test/?--args"}, {}}, false},
      {{"/usr/bin/osascript", {"-e", "tell", "https://a.test/"}, {}}, true},
      {{"/usr/bin/osascript", {}, {}}, true},
      {{"/usr/bin/firefox", {"https://a.test/"}, {}}, true},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.plan.executable + " " + std::to_string(test.plan.arguments.size()));
    EXPECT_EQ(HelperProtocol::needsHelper(test.plan), test.needsHelper);
  }
}

TEST(HelperProtocol, WithoutHelperKeepsTheLinkAndDropsTheBrowserFlags) {
  const std::string warning(HelperProtocol::withoutHelperWarning);
  const std::string chrome = "/Applications/Google Chrome.app";
  struct Case {
    const char* name;
    LaunchPlan plan;
    LaunchPlan expected;
  } cases[] = {
      {"profile and link",
       {"/usr/bin/open",
        {"-g", "-na", chrome, "--args", "--profile-directory=Profile 1", "https://a.test/"},
        {"earlier"},
        {LaunchPlan{"/usr/bin/open", {"-b", "x"}, {}}},
        "note"},
       {"/usr/bin/open", {"-g", "-a", chrome, "https://a.test/"}, {"earlier", warning}}},
      {"flag last: no link to keep",
       {"/usr/bin/open", {"-na", chrome, "--args", "--incognito"}, {}},
       {"/usr/bin/open", {"-a", chrome}, {warning}}},
      {"nothing after --args",
       {"/usr/bin/open", {"-na", chrome, "--args"}, {}},
       {"/usr/bin/open", {"-a", chrome}, {warning}}},
      {"last argument is a profile name, not a link",
       {"/usr/bin/open", {"-na", chrome, "--args", "-P", "Work"}, {}},
       {"/usr/bin/open", {"-a", chrome}, {warning}}},
      {"already fine",
       {"/usr/bin/open", {"-b", "com.apple.Safari", "https://a.test/"}, {}},
       {"/usr/bin/open", {"-b", "com.apple.Safari", "https://a.test/"}, {}}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    const LaunchPlan result = HelperProtocol::withoutHelper(test.plan);
    EXPECT_EQ(result, test.expected);
    EXPECT_FALSE(HelperProtocol::needsHelper(result));
  }
}

TEST(HelperProtocol, WithoutHelperOfAScriptUsesItsNewTabFallback) {
  const LaunchPlan newTab{
      "/usr/bin/open",
      {"-na", "/Applications/Firefox.app", "--args", "-P", "Work", "https://a.test/"},
      {}};
  const LaunchPlan script{"/usr/bin/osascript", {"-e", "tell", "https://a.test/"}, {}, {newTab}};
  EXPECT_EQ(HelperProtocol::withoutHelper(script),
            (LaunchPlan{"/usr/bin/open",
                        {"-a", "/Applications/Firefox.app", "https://a.test/"},
                        {std::string(HelperProtocol::withoutHelperWarning)}}));
  // Without a fallback there is nothing closer: the plan comes back as it is.
  const LaunchPlan alone{"/usr/bin/osascript", {"-e", "tell", "https://a.test/"}, {}};
  EXPECT_EQ(HelperProtocol::withoutHelper(alone), alone);
}

}  // namespace
}  // namespace linkferry
