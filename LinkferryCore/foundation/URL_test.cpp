#include "foundation/URL.h"

#include <gtest/gtest.h>

namespace linkferry {
namespace {

using Items = std::vector<QueryItem>;
constexpr auto none = std::nullopt;

std::string parsed(std::string_view text) {
  auto url = URL::parse(text);
  return url ? url->absoluteString() : "(none)";
}

TEST(URLResolving, ResolvesEveryExampleOfRFC3986) {
  // RFC 3986 sections 5.4.1 (normal) and 5.4.2 (abnormal), strict parser.
  const std::pair<const char*, const char*> cases[] = {
      {"g:h", "g:h"},
      {"g", "http://a/b/c/g"},
      {"./g", "http://a/b/c/g"},
      {"g/", "http://a/b/c/g/"},
      {"/g", "http://a/g"},
      {"//g", "http://g"},
      {"?y", "http://a/b/c/d;p?y"},
      {"g?y", "http://a/b/c/g?y"},
      {"#s", "http://a/b/c/d;p?q#s"},
      {"g#s", "http://a/b/c/g#s"},
      {"g?y#s", "http://a/b/c/g?y#s"},
      {";x", "http://a/b/c/;x"},
      {"g;x", "http://a/b/c/g;x"},
      {"g;x?y#s", "http://a/b/c/g;x?y#s"},
      {"", "http://a/b/c/d;p?q"},
      {".", "http://a/b/c/"},
      {"./", "http://a/b/c/"},
      {"..", "http://a/b/"},
      {"../", "http://a/b/"},
      {"../g", "http://a/b/g"},
      {"../..", "http://a/"},
      {"../../", "http://a/"},
      {"../../g", "http://a/g"},
      {"../../../g", "http://a/g"},
      {"../../../../g", "http://a/g"},
      {"/./g", "http://a/g"},
      {"/../g", "http://a/g"},
      {"g.", "http://a/b/c/g."},
      {".g", "http://a/b/c/.g"},
      {"g..", "http://a/b/c/g.."},
      {"..g", "http://a/b/c/..g"},
      {"./../g", "http://a/b/g"},
      {"./g/.", "http://a/b/c/g/"},
      {"g/./h", "http://a/b/c/g/h"},
      {"g/../h", "http://a/b/c/h"},
      {"g;x=1/./y", "http://a/b/c/g;x=1/y"},
      {"g;x=1/../y", "http://a/b/c/y"},
      {"g?y/./x", "http://a/b/c/g?y/./x"},
      {"g?y/../x", "http://a/b/c/g?y/../x"},
      {"g#s/./x", "http://a/b/c/g#s/./x"},
      {"g#s/../x", "http://a/b/c/g#s/../x"},
      {"http:g", "http:g"},
  };
  const auto base = URL::parse("http://a/b/c/d;p?q");
  ASSERT_TRUE(base);
  for (const auto& [relative, expected] : cases) {
    SCOPED_TRACE(relative);
    const auto resolved = base->resolving(relative);
    ASSERT_TRUE(resolved);
    EXPECT_EQ(resolved->absoluteString(), expected);
  }
}

TEST(URLResolving, AppliesTheLenientStepAndNeedsAnAbsoluteBase) {
  const auto base = URL::parse("https://example.com/a/b");
  ASSERT_TRUE(base);
  EXPECT_EQ(base->resolving("ü?x=|")->absoluteString(), "https://example.com/a/%C3%BC?x=%7C");
  EXPECT_FALSE(base->resolving("a b"));
  EXPECT_FALSE(URL::parse("/relative/base")->resolving("g"));
}

TEST(URLParse, SplitsComponentsAsWritten) {
  struct Case {
    const char* text;
    std::optional<std::string> scheme, user, password, host, encodedHost;
    std::optional<int> port;
    std::string path, encodedPath;
    std::optional<std::string> query, fragment;
  };
  const Case cases[] = {
      {"https://u:p%40ss@Ex%41mple.com:8443/a%20b/?q=1#top", "https", "u", "p@ss", "ExAmple.com",
       "Ex%41mple.com", 8443, "/a b", "/a%20b/", "q=1", "top"},
      {"http://[::1]:8080/x", "http", none, none, "[::1]", "[::1]", 8080, "/x", "/x", none, none},
      {"http://[v7.abc]", "http", none, none, "[v7.abc]", "[v7.abc]", none, "", "", none, none},
      {"https://example.com", "https", none, none, "example.com", "example.com", none, "", "", none,
       none},
      {"https://example.com/", "https", none, none, "example.com", "example.com", none, "/", "/",
       none, none},
      {"https://example.com?", "https", none, none, "example.com", "example.com", none, "", "", "",
       none},
      {"http://a:/p#", "http", none, none, "a", "a", none, "/p", "/p", none, ""},
      {"http://@h", "http", "", none, "h", "h", none, "", "", none, none},
      {"file:///etc/hosts", "file", none, none, none, none, none, "/etc/hosts", "/etc/hosts", none,
       none},
      {"mailto:a@b.example?subject=hi", "mailto", none, none, none, none, none, "a@b.example",
       "a@b.example", "subject=hi", none},
      {"//cdn.example/x.js", none, none, none, "cdn.example", "cdn.example", none, "/x.js", "/x.js",
       none, none},
      {"../up?x", none, none, none, none, none, none, "../up", "../up", "x", none},
      // A host that does not decode to UTF-8 is returned as written.
      {"http://%FF.example/%C3", "http", none, none, "%FF.example", "%FF.example", none, "/%C3",
       "/%C3", none, none},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto url = URL::parse(c.text);
    ASSERT_TRUE(url);
    EXPECT_EQ(url->absoluteString(), c.text);
    EXPECT_EQ(url->scheme(), c.scheme);
    EXPECT_EQ(url->user(), c.user);
    EXPECT_EQ(url->password(), c.password);
    EXPECT_EQ(url->host(), c.host);
    EXPECT_EQ(url->percentEncodedHost(), c.encodedHost);
    EXPECT_EQ(url->port(), c.port);
    EXPECT_EQ(url->path(), c.path);
    EXPECT_EQ(url->percentEncodedPath(), c.encodedPath);
    EXPECT_EQ(url->query(), c.query);
    EXPECT_EQ(url->fragment(), c.fragment);
  }
}

TEST(URLParse, RefusesTextsThatAreNoURIReference) {
  for (const char* text :
       {"https://example.com/a b", " https://example.com", "https://a.test/\t", "https://a.test/\n",
        "https://a.test/\x01", "https://a.test/\x7f", "http://%zz.example/", "http://a.test/%zz",
        "http://a.test/100%", "http://a.test/%4", "http://a:b:c/", "http://[::1/",
        "http://a:99999/", "1http://a/", "http://a/`x`"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(URL::parse(text));
  }
  EXPECT_FALSE(URL::parse(std::string_view("http://a/\0b", 11)));
}

TEST(URLParse, LenientStepEscapesWhatRealLinksCarry) {
  const std::pair<const char*, const char*> cases[] = {
      {"https://example.com/ü", "https://example.com/%C3%BC"},
      {"https://example.com/a?q=x|y&r={1}^\"<>\\",
       "https://example.com/a?q=x%7Cy&r=%7B1%7D%5E%22%3C%3E%5C"},
      {"https://example.com/[a]?b[]=1", "https://example.com/%5Ba%5D?b%5B%5D=1"},
      {"http://[::1]:80/[x]", "http://[::1]:80/%5Bx%5D"},
      {"http://u@[::1]/", "http://u@[::1]/"},
      {"https://a.test/#x#y#z", "https://a.test/#x%23y%23z"},
      {"https://bücher.example/", "https://b%C3%BCcher.example/"},
      {"https://a.test/\xff", "https://a.test/%FF"},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(parsed(text), expected);
  }
  EXPECT_EQ(URL::parse("https://bücher.example/")->host(), "bücher.example");
  // A valid URL comes back character for character, escapes and case included.
  EXPECT_EQ(parsed("HTTP://Example.COM/%7e?A=%41#F"), "HTTP://Example.COM/%7e?A=%41#F");
}

TEST(URLHostOf, AgreesWithAFullParseOnEveryShape) {
  // Plain web links (read without the parser) next to every shape that must fall back to it.
  for (std::string_view text : {"https://www.example.com/a/b?c=d&e=%41#frag",
                                "http://a.test",
                                "http://a.test?x",
                                "HTTP://Example.COM/%7e?A=%41#F",
                                "https://a.test/#x#y#z",
                                "https://a.test/x%zz",
                                "https://a.test/100%",
                                "https://a.test/%4",
                                "https://a.test/a b",
                                "https://a.test/`x`",
                                "https://a.test/ü",
                                "https://a.test/a|b",
                                "https://a.test/\x7f",
                                "https:///path",
                                "https://",
                                "https:",
                                "https://user:pw@a.test/",
                                "https://a.test:8080/",
                                "https://a.test:99999/",
                                "https://a%2Eb.test/",
                                "https://b%C3%BCcher.example/",
                                "https://bücher.example/",
                                "http://[::1]:80/",
                                "http://1.2.3.4/",
                                "file:///etc/passwd",
                                "mailto:someone@a.test",
                                "//a.test/x",
                                "/relative",
                                "",
                                "1http://a/",
                                "h+t.p-s://a_b~c/",
                                "https://a.test@b.test/",
                                "https://a.test/x?y#z?w/@:",
                                "https://a.test/%41%"}) {
    SCOPED_TRACE(text);
    const auto url = URL::parse(text);
    EXPECT_EQ(URL::hostOf(text), url ? url->host() : std::nullopt);
  }
  EXPECT_EQ(URL::hostOf("https://www.example.com/a?b#c"), "www.example.com");
  EXPECT_EQ(URL::hostOf("https://a.test/a b"), std::nullopt);
}

TEST(URLParse, PathDropsOneTrailingSlashButKeepsTheRoot) {
  const std::pair<const char*, const char*> cases[] = {
      {"https://a.test/", "/"},      {"https://a.test/x/", "/x"},        {"https://a.test//", "/"},
      {"https://a.test/x%2F", "/x"}, {"https://a.test/%E2%82%AC", "/€"}, {"urn:a/", "a"},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(URL::parse(text)->path(), expected);
  }
}

TEST(URLQueryItems, KeepPlusSignsAndItemsWithoutValues) {
  const std::pair<const char*, Items> cases[] = {
      {"https://a.test/", {}},
      {"https://a.test/?", {}},
      {"https://a.test/?a=1+2&b&c=&d=x=y", {{"a", "1+2"}, {"b", none}, {"c", ""}, {"d", "x=y"}}},
      {"https://a.test/?a&&b", {{"a", none}, {"", none}, {"b", none}}},
      {"https://a.test/?n%20m=%26%3D%2B&ü=%C3", {{"n m", "&=+"}, {"ü", "%C3"}}},
      {"https://a.test/?x=1#y=2", {{"x", "1"}}},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(URL::parse(text)->queryItems(), expected);
  }
}

TEST(PercentEncodingTest, DecodeRefusesMalformedEscapesAndNonUTF8) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"a+b%2B", "a+b+"},  {"%C3%BC", "ü"},        {"%f0%9f%98%80", "😀"}, {"%zz", none},
      {"%", none},         {"%4", none},           {"%C3", none},         {"%C0%AF", none},
      {"%ED%A0%80", none}, {"%F4%90%80%80", none}, {"\xff", none},        {"", ""},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(PercentEncoding::decode(text), expected);
  }
}

TEST(PercentEncodingTest, EncodeEscapesPerComponent) {
  using enum PercentEncoding::Component;
  const std::string text = "a b/?#&=+:@%ü";
  EXPECT_EQ(PercentEncoding::encode(text, path), "a%20b/%3F%23&=+:@%25%C3%BC");
  EXPECT_EQ(PercentEncoding::encode(text, query), "a%20b/?%23&=+:@%25%C3%BC");
  EXPECT_EQ(PercentEncoding::encode(text, queryItem), "a%20b/?%23%26%3D%2B:@%25%C3%BC");
  EXPECT_EQ(PercentEncoding::encode(text, fragment), "a%20b/?%23&=+:@%25%C3%BC");
  EXPECT_EQ(PercentEncoding::encode(text, user), "a%20b%2F%3F%23&=+%3A%40%25%C3%BC");
  EXPECT_EQ(PercentEncoding::encode("bücher.example", host), "b%C3%BCcher.example");
  EXPECT_EQ(PercentEncoding::encode("[::1]", host), "[::1]");
  EXPECT_EQ(PercentEncoding::decode(PercentEncoding::encode(text, queryItem)), text);
}

TEST(URLComponentsTest, UntouchedPartsComeBackCharacterForCharacter) {
  for (const char* text : {"https://u:p@Ex%41mple.com:8443/a%2fb/?q=%7e+x&&flag#frag",
                           "http://[::1]:8080/x?a=1", "file:///tmp/x", "mailto:a@b.example?to=c",
                           "//cdn.example/x", "../a?b#c", "https://a.test?", "urn:isbn:123"}) {
    SCOPED_TRACE(text);
    auto components = URLComponents::parse(text);
    ASSERT_TRUE(components);
    EXPECT_EQ(components->string(), text);
    EXPECT_EQ(components->url()->absoluteString(), text);
    components->setHost("other.example");
    const auto url = components->url();
    if (!components->percentEncodedPath.empty() && components->percentEncodedPath[0] != '/') {
      EXPECT_FALSE(url);  // a rootless path cannot follow a host
      continue;
    }
    ASSERT_TRUE(url);
    EXPECT_EQ(url->host(), "other.example");
    EXPECT_EQ(url->query(), URL::parse(text)->query());
    EXPECT_EQ(url->fragment(), URL::parse(text)->fragment());
  }
}

TEST(URLComponentsTest, ReplacesSchemeHostPortPathAndQueryItems) {
  auto components = URLComponents::parse("http://user@a.test:80/old?utm=1#f");
  ASSERT_TRUE(components);
  components->scheme = "https";
  components->port.reset();
  EXPECT_EQ(components->string(), "https://user@a.test/old?utm=1#f");
  components->setHost("[2001:db8::1]");
  components->setPath("/new path/ü");
  components->setQueryItems(Items{{"a&b", "c=d"}, {"plus", "1+1"}, {"hash", "#x"}, {"flag", none}});
  EXPECT_EQ(components->string(),
            "https://user@[2001:db8::1]/new%20path/%C3%BC?a%26b=c%3Dd&plus=1%2B1&hash=%23x&flag#f");
  const auto url = components->url();
  ASSERT_TRUE(url);
  EXPECT_EQ(url->host(), "[2001:db8::1]");
  EXPECT_EQ(url->path(), "/new path/ü");
  EXPECT_EQ(url->queryItems(),
            (Items{{"a&b", "c=d"}, {"plus", "1+1"}, {"hash", "#x"}, {"flag", none}}));

  components->setQueryItems(Items{});
  EXPECT_EQ(components->string(), "https://user@[2001:db8::1]/new%20path/%C3%BC?#f");
  components->setQueryItems(none);
  components->setHost(none);
  EXPECT_EQ(components->string(), "https:/new%20path/%C3%BC#f");
  EXPECT_TRUE(components->url());
}

TEST(URLComponentsTest, BuildsARequestURLFromNothing) {
  URLComponents components;
  components.scheme = "linkferry-helper";
  components.setHost("run");
  components.setQueryItems(Items{{"plan", "eyJhIjoxfQ-_"}});
  const auto url = components.url();
  ASSERT_TRUE(url);
  EXPECT_EQ(url->absoluteString(), "linkferry-helper://run?plan=eyJhIjoxfQ-_");
  EXPECT_EQ(url->queryItems(), (Items{{"plan", "eyJhIjoxfQ-_"}}));
}

TEST(URLComponentsTest, URLIsNothingWhenThePartsFormNoReference) {
  auto relativePathAfterHost = *URLComponents::parse("https://a.test/x");
  relativePathAfterHost.percentEncodedPath = "x";  // would read as host "a.testx"
  auto authorityInPath = *URLComponents::parse("https:/x");
  authorityInPath.percentEncodedPath = "//evil.example/x";
  auto portWithoutHost = *URLComponents::parse("mailto:a@b.example");
  portWithoutHost.port = 25;
  auto badScheme = *URLComponents::parse("https://a.test/");
  badScheme.scheme = "1https";
  auto hostWithSlash = *URLComponents::parse("https://a.test/");
  hostWithSlash.percentEncodedHost = "a.test/b";
  auto badPort = *URLComponents::parse("https://a.test/");
  badPort.port = 70000;
  for (const auto* components : {&relativePathAfterHost, &authorityInPath, &portWithoutHost,
                                 &badScheme, &hostWithSlash, &badPort}) {
    SCOPED_TRACE(components->string());
    EXPECT_FALSE(components->url());
  }
}

TEST(URLFileLink, EncodesWhatAPathMayHoldSoThePathComesBack) {
  const std::string raw = "/tmp/caf\xC3\xA9 report #1?%20 [a]&b;c+d.html";
  const std::optional<std::string> link = URL::fileLink(raw);
  ASSERT_TRUE(link);
  EXPECT_EQ(*link,
            "file:///tmp/caf%C3%A9%20report%20%231%3F%2520%20%5Ba%5D%26b%3Bc%2Bd.html");
  const std::optional<URL> url = URL::parse(*link);
  ASSERT_TRUE(url);
  EXPECT_EQ(url->absoluteString(), *link);
  EXPECT_EQ(url->scheme(), "file");
  EXPECT_EQ(url->host(), none);
  EXPECT_EQ(url->path(), raw);
  EXPECT_EQ(url->query(), none);
  EXPECT_EQ(url->fragment(), none);
}

TEST(URLFileLink, NeedsAnAbsolutePath) {
  EXPECT_EQ(URL::fileLink(""), none);
  EXPECT_EQ(URL::fileLink("report.html"), none);
  EXPECT_EQ(URL::fileLink("./report.html"), none);
  EXPECT_EQ(URL::fileLink("/"), "file:///");
}

}  // namespace
}  // namespace linkferry

namespace linkferry {
namespace {

TEST(URLParseProblem, SaysWhatKeepsALinkFromParsing) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"http://exa mple.com", "the host contains a space"},
      {"https://exa\tmple.com/", "the host contains a tab"},
      {"http://[::1/x", "unclosed [ in the host"},
      {"http://[::1]x/", "unexpected text after ] in the host"},
      {"http://a.test:8o/", "the port \"8o\" is not a number"},
      {"http://a.test:99999/", "the port 99999 is above 65535"},
      {"http://a%zz.test/", "invalid percent-escape \"%zz\" in the host"},
      {"http://a.test/b%2", "invalid percent-escape \"%2\""},
      {"http://a.test/%\xC3\xBC", "invalid percent-escape \"%\""},
      {"http://a.test/a b", "the link contains a space"},
      {"http://a.test/\x01", "the link contains a control character"},
  };
  for (const auto& [text, problem] : cases) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(URL::parse(text).has_value());
    EXPECT_EQ(URL::parseProblem(text), problem);
  }
  // Links that parse, and texts that are no links at all, have no problem to tell.
  for (const char* text : {"https://a.test/?q=a|b", "http://[::1]:80/", "mailto:a@b.test",
                           "report.html", "my file.html", "", "1http://a b"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(URL::parseProblem(text), std::nullopt);
  }
}

}  // namespace
}  // namespace linkferry
