#include "preparation/NetworkShortLinkExpander.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/RedirectServer.h"
#include "foundation/Json.h"
#include "preparation/ShortLinks.h"

namespace linkferry {
namespace {

using namespace std::chrono_literals;
using testing::RedirectServer;

URL link(const std::string& text) {
  return *URL::parse(text);
}

std::vector<std::string> texts(const std::vector<URL>& urls) {
  std::vector<std::string> result;
  for (const URL& url : urls) result.push_back(url.absoluteString());
  return result;
}

class NetworkShortLinkExpanderTest : public ::testing::Test {
 protected:
  static JsonValue routes() {
    return {
        // A chain over two shorteners: a cookie, a relative Location, HEAD refused but GET
        // redirecting, and a destination that is never requested.
        {"bit.ly/a", {{"status", 301}, {"location", "/a2"}, {"cookie", "id=secret; Path=/"}}},
        {"bit.ly/a2", {{"status", 302}, {"location", "http://tinyurl.com:{port}/b"}}},
        {"tinyurl.com/b",
         {{"headStatus", 405}, {"status", 302}, {"location", "https://example.org/dest?x=1"}}},
        {"is.gd/page", {{"status", 200}}},
        {"t.co/1", {{"status", 301}, {"location", "/2"}}},
        {"t.co/2", {{"status", 301}, {"location", "/3"}}},
        {"t.co/3", {{"status", 301}, {"location", "/4"}}},
        {"ow.ly/self", {{"status", 301}, {"location", "/self"}}},
        {"ow.ly/ping", {{"status", 302}, {"location", "/pong"}}},
        {"ow.ly/pong", {{"status", 302}, {"location", "/ping"}}},
        {"bit.ly/dead", {{"status", 301}, {"location", "http://tinyurl.com:{port}/gone"}}},
        {"bit.ly/via", {{"status", 301}, {"location", "http://ow.ly:{port}/to-dead"}}},
        {"ow.ly/to-dead", {{"status", 301}, {"location", "http://tinyurl.com:{port}/gone"}}},
        {"bit.ly/js", {{"status", 302}, {"location", "javascript:alert(1)"}}},
        {"bit.ly/app", {{"status", 302}, {"location", "file:///etc/passwd"}}},
        {"bit.ly/hang", {{"hang", true}}},
    };
  }

  ShortLinkExpansion expand(const std::string& path, int maxHops = 10,
                            std::chrono::milliseconds timeout = 5000ms) {
    NetworkShortLinkExpander expander(maxHops, timeout, server.configuration());
    return expander.expand(link(path));
  }
  std::string at(const std::string& host, const std::string& path) {
    return server.origin(host) + path;
  }

  RedirectServer server{routes()};
};

TEST_F(NetworkShortLinkExpanderTest, FollowsAChainOfShortenersWithoutBodiesOrCookies) {
  ASSERT_NE(server.port(), 0) << "the loopback server did not start";
  auto expansion = expand(at("bit.ly", "/a"));
  EXPECT_EQ(expansion.url.absoluteString(), "https://example.org/dest?x=1");
  EXPECT_EQ(
      texts(expansion.hops),
      (std::vector<std::string>{at("bit.ly", "/a"), at("bit.ly", "/a2"), at("tinyurl.com", "/b")}));
  EXPECT_EQ(expansion.failure, std::nullopt);

  auto requests = server.requests(4);
  ASSERT_EQ(requests.size(), 4u);
  std::vector<std::string> seen;
  for (const JsonValue& request : requests) {
    seen.push_back(request["method"].get<std::string>() + " " + request["host"].get<std::string>() +
                   request["path"].get<std::string>());
    EXPECT_EQ(request["cookie"], nullptr) << "a cookie came back: " << request["cookie"];
    EXPECT_EQ(request["userAgent"], "LinkFerry link expander");
    EXPECT_EQ(request["bodyBytes"], 0) << "a body was downloaded";
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"HEAD bit.ly/a", "HEAD bit.ly/a2", "HEAD tinyurl.com/b",
                                            "GET tinyurl.com/b"}));
  // The GET was closed as soon as its head had arrived, not after the server's five seconds (the
  // bound is loose on purpose: a loaded machine may take a while to get there).
  EXPECT_LT(requests[3]["closedAfter"].get<double>(), 4.0);
}

TEST_F(NetworkShortLinkExpanderTest, EndsWithoutExpandingWhereNothingUsefulCameBack) {
  struct Case {
    std::string path;
    std::string failure;
    std::size_t hops;
  };
  const std::vector<Case> cases = {
      {at("is.gd", "/page"), "HTTP 200, no redirect", 1},
      {at("ow.ly", "/self"), "redirect loop", 1},
      {at("ow.ly", "/ping"), "redirect loop", 2},
      {at("bit.ly", "/js"), "redirect to a javascript: link, not followed", 1},
      {at("bit.ly", "/app"), "redirect to a file: link, not followed", 1},
      {at("bit.ly", "/dead"), at("tinyurl.com", "/gone") + " answered HTTP 404", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    auto expansion = expand(c.path);
    EXPECT_EQ(expansion.url.absoluteString(), c.path);
    EXPECT_EQ(expansion.failure, c.failure);
    EXPECT_EQ(expansion.hops.size(), c.hops);
  }
}

TEST_F(NetworkShortLinkExpanderTest, StopsAtTheLastGoodLinkAndAtTheHopLimit) {
  auto dead = expand(at("bit.ly", "/via"));
  EXPECT_EQ(dead.url.absoluteString(), at("ow.ly", "/to-dead"));
  EXPECT_EQ(dead.failure, at("tinyurl.com", "/gone") + " answered HTTP 404");

  auto limited = expand(at("t.co", "/1"), 2);
  EXPECT_EQ(limited.url.absoluteString(), at("t.co", "/3"));  // reached, not requested
  EXPECT_EQ(texts(limited.hops), (std::vector<std::string>{at("t.co", "/1"), at("t.co", "/2")}));
  EXPECT_EQ(limited.failure, std::nullopt);

  auto none = expand(at("t.co", "/1"), 0);
  EXPECT_EQ(none, (ShortLinkExpansion{link(at("t.co", "/1")), {}, std::nullopt}));
}

// The server accepts and never answers. The expansion gives up at its limit, and its request,
// which lost the race, closes the connection by itself right after instead of lingering.
TEST_F(NetworkShortLinkExpanderTest, ASilentServerEndsInTheTimeLimitAndLeavesNothingRunning) {
  const auto started = std::chrono::steady_clock::now();
  auto expansion = expand(at("bit.ly", "/hang"), 5, 400ms);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 4000ms);  // far from hanging
  EXPECT_EQ(expansion, (ShortLinkExpansion{link(at("bit.ly", "/hang")), {}, "timed out"}));
  auto requests = server.requests(1, 6000ms);
  ASSERT_EQ(requests.size(), 1u) << "the request was not closed after the time limit";
  EXPECT_TRUE(requests[0]["hung"].get<bool>());
  EXPECT_LT(requests[0]["closedAfter"].get<double>(), 4.0);
}

TEST_F(NetworkShortLinkExpanderTest, NeverConnectsToALoopbackAddressThatWasNotPinned) {
  Http::Request request;
  request.url = server.origin("127.0.0.1") + "/a";
  request.method = Http::Method::head;
  request.publicAddressesOnly = true;
  request.resolve = {"bit.ly:" + std::to_string(server.port()) + ":127.0.0.2"};
  try {
    Http::send(request);
    ADD_FAILURE() << "the request reached 127.0.0.1";
  } catch (const Http::HttpError& error) {
    EXPECT_STREQ(error.what(), "connection to the non-public address 127.0.0.1 refused");
  }
  EXPECT_TRUE(server.requests(0, 0ms).empty());
}

TEST(ShortLinks, RecognisesShortenerHostsExactly) {
  EXPECT_EQ(ShortLinks::hosts().size(), 36u);
  EXPECT_TRUE(ShortLinks::isShortener(link("https://bit.ly/x")));
  EXPECT_TRUE(ShortLinks::isShortener(link("HTTP://WWW.Bit.LY/x")));
  EXPECT_FALSE(ShortLinks::isShortener(link("https://a.bit.ly/x")));
  EXPECT_FALSE(ShortLinks::isShortener(link("ftp://bit.ly/x")));
  EXPECT_FALSE(ShortLinks::isShortener(link("https://www.www.bit.ly/x")));
}

TEST(ShortLinks, ShortensItsDisplayTextTo40Characters) {
  EXPECT_EQ(ShortLinks::shortText(link("https://bit.ly/")), "bit.ly");
  EXPECT_EQ(ShortLinks::shortText(link("https://bit.ly/" + std::string(33, 'a'))),
            "bit.ly/" + std::string(33, 'a'));  // 40 characters, whole
  EXPECT_EQ(ShortLinks::shortText(link("https://bit.ly/" + std::string(34, 'a'))),
            "bit.ly/" + std::string(32, 'a') + "\u2026");
}

}  // namespace
}  // namespace linkferry
