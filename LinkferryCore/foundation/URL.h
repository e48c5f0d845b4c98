#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace linkferry {

// One item of a URL query: "a=1" has the value "1", "a=" the value "", "a" none.
struct QueryItem {
  std::string name;
  std::optional<std::string> value;
  bool operator==(const QueryItem&) const = default;
};

// Percent encoding of RFC 3986, section 2.1.
namespace PercentEncoding {

// Which characters stay unescaped when encoding a component.
enum class Component {
  user,
  password,
  host,
  path,
  queryItem,  // a name or value inside a query: "&", "=", "+" and "#" are escaped as well
  query,      // a whole query: "&" and "=" stay
  fragment,
};

// Escapes every byte that may not appear unescaped in `component`, "%" included, with upper-case
// hex digits. A host written "[...]" keeps its brackets and colons. Never fails.
std::string encode(std::string_view text, Component component);

// Decodes "%XX" escapes. Nothing when an escape is malformed ("%zz", a lone "%") or the result
// is not UTF-8. "+" stays "+".
std::optional<std::string> decode(std::string_view text);

}  // namespace PercentEncoding

// An immutable URI reference (RFC 3986), parsed with uriparser.
//
// `parse` first percent-encodes the characters real links carry although RFC 3986 forbids them
// (`[ ] | { } ^ \ " < >` outside an IP literal, bytes above 0x7F, every "#" after the first);
// white space and control characters are never encoded, so a text holding them does not parse.
// Nothing is lower-cased or normalised: `absoluteString()` is the text after that one step.
// Accessors decode lazily; one whose text does not decode returns it as written.
class URL {
 public:
  // Nothing when the text is not a URI reference even after the lenient step, and when its port
  // is above 65535 (no such link can be opened, and URLComponents could not keep it).
  static std::optional<URL> parse(std::string_view text);

  // Why a text that starts like a link ("scheme:") is not one, in a short phrase for one line
  // of an error: "the host contains a space", "unclosed [ in the host",
  // "the port \"8o\" is not a number", "invalid percent-escape \"%zz\"", ... Nothing when the
  // text parses or when it does not start with a scheme (a path or a word: no link at all).
  static std::optional<std::string> parseProblem(std::string_view text);

  // What parse(text)->host() gives, nothing when the text does not parse; for histories of
  // hundreds of thousands of links, where most texts are plain web links whose host can be read
  // without building the URL.
  static std::optional<std::string> hostOf(std::string_view text);

  // The `file:` link of an absolute path ("/tmp/a b.html" gives "file:///tmp/a%20b.html"), every
  // byte but RFC 3986's unreserved characters and "/" percent-encoded, so that "#", "?", "%",
  // spaces and non-ASCII names survive and path() gives the same path back. Nothing for a path
  // that is empty or not absolute. Builds text only: callers that only hand the link on need no
  // URL parser.
  static std::optional<std::string> fileLink(std::string_view absolutePath);

  const std::string& absoluteString() const { return m_text; }

  std::optional<std::string> scheme() const;    // as written, without ":"
  std::optional<std::string> user() const;      // percent-decoded
  std::optional<std::string> password() const;  // percent-decoded
  // Percent-decoded; nothing when there is no authority or the host is empty. An IP literal
  // keeps its brackets ("[::1]").
  std::optional<std::string> host() const;
  std::optional<std::string> percentEncodedHost() const;  // as written; absent as host()
  std::optional<int> port() const;                        // nothing when absent or empty ("a:")
  // Percent-decoded; a trailing "/" is removed except for "/" itself; empty when absent.
  std::string path() const;
  std::string percentEncodedPath() const;       // as written
  std::optional<std::string> query() const;     // as written, without "?"
  std::optional<std::string> fragment() const;  // as written, without "#"
  // The query split at every "&" and each piece at its first "=": "a&&b=1" gives "a", "" and
  // "b"="1". Percent-decoded names and values; "+" stays "+". Empty when there is no query or
  // the query is empty.
  std::vector<QueryItem> queryItems() const;

  // RFC 3986 section 5.2 reference resolution (strict) against this URL as the base; `relative`
  // goes through the same lenient step as `parse`. Nothing when this URL has no scheme or the
  // reference does not parse.
  std::optional<URL> resolving(std::string_view relative) const;

  bool operator==(const URL& other) const { return m_text == other.m_text; }

 private:
  struct Range {
    std::uint32_t begin = 0;
    std::uint32_t end = 0;
    bool present = false;
  };
  URL() = default;
  std::optional<std::string> slice(Range range) const;
  friend class URLParser;
  friend struct URLComponents;

  std::string m_text;
  Range m_scheme, m_user, m_password, m_host, m_port, m_path, m_query, m_fragment;
  bool m_hasAuthority = false;
};

// A URL taken apart into percent-encoded components that can be replaced one by one and put back
// together. The decoded views encode what they are given.
struct URLComponents {
  std::optional<std::string> scheme;
  std::optional<std::string> percentEncodedUser;
  std::optional<std::string> percentEncodedPassword;
  std::optional<std::string> percentEncodedHost;  // present means there is an authority
  std::optional<int> port;
  std::string percentEncodedPath;
  std::optional<std::string> percentEncodedQuery;
  std::optional<std::string> fragment;  // percent-encoded, without "#"

  URLComponents() = default;
  explicit URLComponents(const URL& url);
  static std::optional<URLComponents> parse(std::string_view text);

  // Percent-decoded; nothing when there is no host or it is empty, as URL::host().
  std::optional<std::string> host() const;
  // Nothing removes the authority: user, password and port too.
  void setHost(std::optional<std::string_view> host);
  // Percent-decoded, as written otherwise (no trailing "/" removed).
  std::string path() const;
  void setPath(std::string_view path);
  // Nothing when there is no query; split as URL::queryItems().
  std::optional<std::vector<QueryItem>> queryItems() const;
  // Nothing removes the query; an empty list leaves an empty query ("?"). Names and values are
  // escaped for a query item, so "&", "=", "+" and "#" inside them survive.
  void setQueryItems(const std::optional<std::vector<QueryItem>>& items);

  // The text of the reassembled reference (RFC 3986 section 5.3), whatever the parts hold.
  std::string string() const;
  // The reassembled reference, parsed; nothing when the parts do not form one, that is when the
  // text does not parse unchanged into exactly these parts (a path without a leading "/" after a
  // host, a host holding "/", a port without a host, a bad scheme...).
  std::optional<URL> url() const;

  bool operator==(const URLComponents&) const = default;
};

}  // namespace linkferry

template <>
struct std::hash<linkferry::URL> {
  std::size_t operator()(const linkferry::URL& url) const noexcept {
    return std::hash<std::string>()(url.absoluteString());
  }
};
