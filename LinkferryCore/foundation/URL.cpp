#include "foundation/URL.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <uriparser/Uri.h>

#include "foundation/Text.h"

namespace linkferry {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool isAsciiLetter(char c) noexcept {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isAsciiDigit(char c) noexcept {
  return c >= '0' && c <= '9';
}

// Which bytes each component keeps unescaped, one table per component, built at compile time.
using ByteSet = std::array<bool, 256>;

constexpr ByteSet makeSet(std::string_view extra) {
  ByteSet set{};
  for (int c = 'a'; c <= 'z'; ++c) set[static_cast<std::size_t>(c)] = true;
  for (int c = 'A'; c <= 'Z'; ++c) set[static_cast<std::size_t>(c)] = true;
  for (int c = '0'; c <= '9'; ++c) set[static_cast<std::size_t>(c)] = true;
  for (char c : std::string_view("-._~")) set[static_cast<unsigned char>(c)] = true;
  for (char c : extra) set[static_cast<unsigned char>(c)] = true;
  return set;
}

constexpr std::string_view kSubDelims = "!$&'()*+,;=";
constexpr ByteSet kUserInfoSet = makeSet(kSubDelims);
constexpr ByteSet kPathSet = makeSet("!$&'()*+,;=:@/");
constexpr ByteSet kQuerySet = makeSet("!$&'()*+,;=:@/?");
constexpr ByteSet kQueryItemSet = makeSet("!$'()*,;:@/?");
constexpr ByteSet kIpLiteralSet = makeSet("!$&'()*+,;=:");

const ByteSet& allowedSet(PercentEncoding::Component component) {
  switch (component) {
    case PercentEncoding::Component::user:
    case PercentEncoding::Component::password:
    case PercentEncoding::Component::host:
      return kUserInfoSet;
    case PercentEncoding::Component::path:
      return kPathSet;
    case PercentEncoding::Component::queryItem:
      return kQueryItemSet;
    case PercentEncoding::Component::query:
    case PercentEncoding::Component::fragment:
      return kQuerySet;
  }
  return kUserInfoSet;
}

void appendEscaped(std::string& out, unsigned char byte) {
  out.push_back('%');
  out.push_back(kHexDigits[byte >> 4]);
  out.push_back(kHexDigits[byte & 0xF]);
}

void appendEncoded(std::string& out, std::string_view text, const ByteSet& allowed) {
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (allowed[byte]) {
      out.push_back(c);
    } else {
      appendEscaped(out, byte);
    }
  }
}

// The decoded text, or the text itself when it holds a malformed escape or decodes to bytes that
// are not UTF-8. Text without "%" is returned as is without being checked: a parsed URL holds
// only ASCII outside its escapes.
std::string decodedOrWritten(std::string_view text) {
  if (text.find('%') == std::string_view::npos) return std::string(text);
  if (auto decoded = PercentEncoding::decode(text)) return std::move(*decoded);
  return std::string(text);
}

// Splits a query into items at "&" and each item at its first "=". An empty query has no items;
// otherwise every piece counts, empty ones included, so that items written back reproduce it.
std::vector<QueryItem> splitQuery(std::string_view query) {
  std::vector<QueryItem> items;
  if (query.empty()) return items;
  std::size_t count = 1;
  for (char c : query) count += c == '&' ? 1 : 0;
  items.reserve(count);
  std::size_t start = 0;
  while (true) {
    const std::size_t end = std::min(query.find('&', start), query.size());
    const std::string_view piece = query.substr(start, end - start);
    const std::size_t equals = piece.find('=');
    QueryItem& item = items.emplace_back();
    if (equals == std::string_view::npos) {
      item.name = decodedOrWritten(piece);
    } else {
      item.name = decodedOrWritten(piece.substr(0, equals));
      item.value = decodedOrWritten(piece.substr(equals + 1));
    }
    if (end == query.size()) break;
    start = end + 1;
  }
  return items;
}

// A bump allocator on the stack for the nodes uriparser allocates while parsing (one per path
// segment): a parse then costs no heap traffic beyond the URL's own text. Blocks that do not fit
// come from the heap. Every block starts with a header holding its size, so that reallocation
// can copy it.
class ParseArena {
 public:
  ParseArena()
      : m_manager{&allocate, &allocateZeroed, &reallocate, &reallocateArray, &release, this} {}
  ParseArena(const ParseArena&) = delete;
  ParseArena& operator=(const ParseArena&) = delete;

  UriMemoryManager* manager() { return &m_manager; }

 private:
  static constexpr std::size_t kHeader = 16;

  static ParseArena& of(UriMemoryManager* manager) {
    return *static_cast<ParseArena*>(manager->userData);
  }
  bool owns(const void* block) const {
    const auto* byte = static_cast<const unsigned char*>(block);
    return byte >= m_buffer && byte < m_buffer + sizeof(m_buffer);
  }
  static std::size_t sizeOf(const void* block) {
    std::size_t size = 0;
    std::memcpy(&size, static_cast<const unsigned char*>(block) - kHeader, sizeof(size));
    return size;
  }

  static void* allocate(UriMemoryManager* manager, std::size_t size) {
    ParseArena& arena = of(manager);
    if (size > std::numeric_limits<std::size_t>::max() / 2) return nullptr;
    const std::size_t rounded = (size + kHeader - 1) / kHeader * kHeader;
    unsigned char* block = nullptr;
    if (rounded + kHeader <= sizeof(m_buffer) - arena.m_used) {
      block = arena.m_buffer + arena.m_used;
      arena.m_used += rounded + kHeader;
    } else {
      block = static_cast<unsigned char*>(std::malloc(size + kHeader));
      if (block == nullptr) return nullptr;
    }
    std::memcpy(block, &size, sizeof(size));
    return block + kHeader;
  }
  static void* allocateZeroed(UriMemoryManager* manager, std::size_t count, std::size_t size) {
    if (size != 0 && count > std::numeric_limits<std::size_t>::max() / size) return nullptr;
    void* block = allocate(manager, count * size);
    if (block != nullptr) std::memset(block, 0, count * size);
    return block;
  }
  static void* reallocate(UriMemoryManager* manager, void* block, std::size_t size) {
    void* moved = allocate(manager, size);
    if (moved == nullptr || block == nullptr) return moved;
    std::memcpy(moved, block, std::min(size, sizeOf(block)));
    release(manager, block);
    return moved;
  }
  static void* reallocateArray(UriMemoryManager* manager, void* block, std::size_t count,
                               std::size_t size) {
    if (size != 0 && count > std::numeric_limits<std::size_t>::max() / size) return nullptr;
    return reallocate(manager, block, count * size);
  }
  static void release(UriMemoryManager* manager, void* block) {
    if (block == nullptr || of(manager).owns(block)) return;
    std::free(static_cast<unsigned char*>(block) - kHeader);
  }

  alignas(16) unsigned char m_buffer[2048];
  std::size_t m_used = 0;
  UriMemoryManager m_manager;
};

// Owns a uriparser structure and the arena its nodes live in; frees its members only after a
// successful parse or resolution.
struct UriHolder {
  ParseArena arena;
  UriUriA uri;  // uriparser resets it before filling it in
  bool owned = false;
  UriHolder() = default;
  UriHolder(const UriHolder&) = delete;
  UriHolder& operator=(const UriHolder&) = delete;
  ~UriHolder() {
    if (owned) uriFreeUriMembersMmA(&uri, arena.manager());
  }
  bool parse(std::string_view text) {
    const char* error = nullptr;
    owned = uriParseSingleUriExMmA(&uri, text.data(), text.data() + text.size(), &error,
                                   arena.manager()) == URI_SUCCESS;
    return owned;
  }
  bool resolve(const UriHolder& reference, const UriHolder& base) {
    owned = uriAddBaseUriExMmA(&uri, &reference.uri, &base.uri, URI_RESOLVE_STRICTLY,
                               arena.manager()) == URI_SUCCESS;
    return owned;
  }
};

// What the lenient step of URL::parse must know about each byte: white space and control
// characters make a text unparsable; the characters real links carry although RFC 3986 forbids
// them (and bytes above 0x7F) are escaped; a "#" is escaped unless it is the first.
enum LenientClass : std::uint8_t { kPlain = 0, kRefused = 1, kEscaped = 2, kHash = 4 };

constexpr std::array<std::uint8_t, 256> kLenientClass = [] {
  std::array<std::uint8_t, 256> table{};
  for (int byte = 0; byte <= 0x20; ++byte) table[static_cast<std::size_t>(byte)] = kRefused;
  table[0x7F] = kRefused;
  for (int byte = 0x80; byte <= 0xFF; ++byte) table[static_cast<std::size_t>(byte)] = kEscaped;
  for (char c : std::string_view("[]|{}^\\\"<>")) table[static_cast<unsigned char>(c)] = kEscaped;
  table['#'] = kHash;
  return table;
}();

// Where a scheme name at the start of `text` ends (a letter, then letters, digits, "+", "-" and
// "."); 0 when the text does not start with a letter.
std::size_t schemeNameEnd(std::string_view text) {
  if (text.empty() || !isAsciiLetter(text[0])) return 0;
  std::size_t i = 1;
  while (i < text.size() && (isAsciiLetter(text[i]) || isAsciiDigit(text[i]) || text[i] == '+' ||
                             text[i] == '-' || text[i] == '.')) {
    ++i;
  }
  return i;
}

// Offsets of the brackets of an IP literal host ("[::1]") in a raw text, so that the lenient step
// leaves them alone; npos when the text has none. Only the host of an authority can be one.
std::pair<std::size_t, std::size_t> ipLiteralBrackets(std::string_view text) {
  constexpr auto none = std::pair{std::string_view::npos, std::string_view::npos};
  const std::size_t name = schemeNameEnd(text);
  std::size_t authority = name > 0 && name < text.size() && text[name] == ':' ? name + 1 : 0;
  if (text.substr(authority, 2) != "//") return none;
  authority += 2;
  const std::size_t end = std::min(text.find_first_of("/?#", authority), text.size());
  const std::string_view part = text.substr(authority, end - authority);
  const std::size_t at = part.rfind('@');
  const std::size_t hostStart = authority + (at == std::string_view::npos ? 0 : at + 1);
  if (hostStart >= end || text[hostStart] != '[') return none;
  const std::size_t close = text.find(']', hostStart);
  if (close == std::string_view::npos || close >= end) return none;
  return {hostStart, close};
}

// The text after the lenient step of URL::parse; nothing when it holds white space or a control
// character (never escaped, so it cannot parse) or when there is nothing to escape.
std::optional<std::string> lenientlyEscaped(std::string_view text) {
  const auto [open, close] = ipLiteralBrackets(text);
  std::size_t escapes = 0;
  bool seenHash = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::uint8_t kind = kLenientClass[static_cast<unsigned char>(text[i])];
    if (kind == kRefused) return std::nullopt;
    if ((kind == kEscaped && i != open && i != close) || (kind == kHash && seenHash)) ++escapes;
    seenHash = seenHash || kind == kHash;
  }
  if (escapes == 0) return std::nullopt;
  std::string escaped;
  escaped.reserve(text.size() + 2 * escapes);
  seenHash = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::uint8_t kind = kLenientClass[static_cast<unsigned char>(text[i])];
    if ((kind == kEscaped && i != open && i != close) || (kind == kHash && seenHash)) {
      appendEscaped(escaped, static_cast<unsigned char>(text[i]));
    } else {
      escaped.push_back(text[i]);
    }
    seenHash = seenHash || kind == kHash;
  }
  return escaped;
}

bool parsePort(std::string_view digits, int& port) noexcept {
  int value = 0;
  for (char c : digits) {
    if (!isAsciiDigit(c)) return false;
    value = value * 10 + (c - '0');
    if (value > 65535) return false;
  }
  port = value;
  return true;
}

}  // namespace

namespace PercentEncoding {

std::string encode(std::string_view text, Component component) {
  std::string out;
  out.reserve(text.size());
  if (component == Component::host && text.size() >= 2 && text.front() == '[' &&
      text.back() == ']') {
    // An IP literal keeps its brackets and colons.
    out.push_back('[');
    appendEncoded(out, text.substr(1, text.size() - 2), kIpLiteralSet);
    out.push_back(']');
    return out;
  }
  appendEncoded(out, text, allowedSet(component));
  return out;
}

std::optional<std::string> decode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(text[i]);
      continue;
    }
    if (text.size() - i < 3) return std::nullopt;
    const int high = Text::hexDigitValue(text[i + 1]);
    const int low = Text::hexDigitValue(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  if (!Text::isValidUTF8(out)) return std::nullopt;
  return out;
}

}  // namespace PercentEncoding

// Fills the ranges of a URL whose text uriparser has accepted. A valid URI reference splits
// unambiguously with the expression of RFC 3986 appendix B; doing that here rather than reading
// uriparser's ranges keeps the offsets exact for empty hosts, where uriparser points elsewhere.
class URLParser {
 public:
  static std::optional<URL> parse(std::string_view text);

 private:
  static bool split(URL& url);
};

std::optional<URL> URLParser::parse(std::string_view text) {
  if (text.size() >= std::numeric_limits<std::uint32_t>::max() / 3) return std::nullopt;
  URL url;
  {
    // uriparser refuses every character the lenient step escapes, so a text it accepts is final
    // as it stands; most links are, and they skip that step entirely.
    UriHolder holder;
    if (holder.parse(text)) {
      url.m_text.assign(text);
    } else {
      auto escaped = lenientlyEscaped(text);
      if (!escaped) return std::nullopt;
      UriHolder second;
      if (!second.parse(*escaped)) return std::nullopt;
      url.m_text = std::move(*escaped);
    }
  }
  if (!split(url)) return std::nullopt;
  return url;
}

bool URLParser::split(URL& url) {
  const std::string_view text = url.m_text;
  const std::size_t size = text.size();
  auto range = [](std::size_t begin, std::size_t end) {
    return URL::Range{static_cast<std::uint32_t>(begin), static_cast<std::uint32_t>(end), true};
  };
  // Plain loops rather than find_first_of: this runs for every parsed link.
  std::size_t position = 0;
  std::size_t i = 0;
  while (i < size && text[i] != ':' && text[i] != '/' && text[i] != '?' && text[i] != '#') ++i;
  if (i < size && i > 0 && text[i] == ':') {
    url.m_scheme = range(0, i);
    position = i + 1;
  }

  if (size - position >= 2 && text[position] == '/' && text[position + 1] == '/') {
    url.m_hasAuthority = true;
    const std::size_t begin = position + 2;
    std::size_t end = begin;
    std::size_t at = std::string_view::npos;
    std::size_t userColon = std::string_view::npos;
    for (; end < size; ++end) {
      const char c = text[end];
      if (c == '/' || c == '?' || c == '#') break;
      // RFC 3986 allows neither "@" after the user information nor ":" before a password in it.
      if (c == '@') at = end;
      if (c == ':' && at == std::string_view::npos && userColon == std::string_view::npos) {
        userColon = end;
      }
    }
    std::size_t hostBegin = begin;
    if (at != std::string_view::npos) {
      if (userColon != std::string_view::npos && userColon < at) {
        url.m_user = range(begin, userColon);
        url.m_password = range(userColon + 1, at);
      } else {
        url.m_user = range(begin, at);
      }
      hostBegin = at + 1;
    }
    std::size_t hostEnd = hostBegin;
    if (hostBegin < end && text[hostBegin] == '[') {
      while (hostEnd < end && text[hostEnd] != ']') ++hostEnd;
      if (hostEnd == end) return false;
      ++hostEnd;
    } else {
      while (hostEnd < end && text[hostEnd] != ':') ++hostEnd;
    }
    url.m_host = range(hostBegin, hostEnd);
    if (hostEnd < end) {
      // uriparser accepted the text, so what follows the host is ":" and digits; a port that is
      // no port number (above 65535) makes the whole text unusable as a link.
      url.m_port = range(hostEnd + 1, end);
      int port = 0;
      if (!parsePort(text.substr(hostEnd + 1, end - hostEnd - 1), port)) return false;
    }
    position = end;
  }

  i = position;
  while (i < size && text[i] != '?' && text[i] != '#') ++i;
  url.m_path = range(position, i);
  position = i;
  if (position < size && text[position] == '?') {
    const std::size_t end = std::min(text.find('#', position), size);
    url.m_query = range(position + 1, end);
    position = end;
  }
  if (position < size) url.m_fragment = range(position + 1, size);
  return true;
}

std::optional<URL> URL::parse(std::string_view text) {
  return URLParser::parse(text);
}

namespace {

// "a space", "a tab", "a line break" or "a control character" for a byte that never parses.
std::string refusedCharacterName(unsigned char c) {
  if (c == ' ') return "a space";
  if (c == '\t') return "a tab";
  if (c == '\n' || c == '\r') return "a line break";
  return "a control character";
}

// The first "%" not followed by two hexadecimal digits, as written (at most "%" and two bytes).
std::optional<std::string> badEscape(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') continue;
    if (i + 2 < text.size() && Text::hexDigitValue(text[i + 1]) >= 0 &&
        Text::hexDigitValue(text[i + 2]) >= 0) {
      i += 2;
      continue;
    }
    std::string written(text.substr(i, 3));
    while (!written.empty() && static_cast<unsigned char>(written.back()) >= 0x80) {
      written.pop_back();  // never cut a character in two
    }
    return written.empty() ? std::string("%") : written;
  }
  return std::nullopt;
}

std::string inQuotes(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

}  // namespace

std::optional<std::string> URL::parseProblem(std::string_view text) {
  const std::size_t name = schemeNameEnd(text);
  if (name == 0 || name >= text.size() || text[name] != ':') return std::nullopt;
  if (parse(text)) return std::nullopt;
  // The parts of "scheme://user@host:port/path?query#fragment" as written.
  std::string_view rest = text.substr(name + 1);
  std::string_view authority;
  if (rest.starts_with("//")) {
    const std::size_t end = std::min(rest.find_first_of("/?#", 2), rest.size());
    authority = rest.substr(2, end - 2);
    rest = rest.substr(end);
  }
  const std::size_t at = authority.rfind('@');
  std::string_view hostAndPort = at == std::string_view::npos ? authority : authority.substr(at + 1);
  std::string_view host = hostAndPort;
  std::optional<std::string_view> port;
  if (hostAndPort.starts_with('[')) {
    const std::size_t close = hostAndPort.find(']');
    if (close == std::string_view::npos) return "unclosed [ in the host";
    host = hostAndPort.substr(0, close + 1);
    const std::string_view after = hostAndPort.substr(close + 1);
    if (!after.empty() && after.front() != ':') return "unexpected text after ] in the host";
    if (!after.empty()) port = after.substr(1);
  } else if (const std::size_t colon = hostAndPort.rfind(':'); colon != std::string_view::npos) {
    host = hostAndPort.substr(0, colon);
    port = hostAndPort.substr(colon + 1);
  }

  for (char c : host) {
    const auto byte = static_cast<unsigned char>(c);
    if (kLenientClass[byte] == kRefused) return "the host contains " + refusedCharacterName(byte);
  }
  if (auto escape = badEscape(host)) return "invalid percent-escape " + inQuotes(*escape) + " in the host";
  if (port) {
    for (char c : *port) {
      const auto byte = static_cast<unsigned char>(c);
      if (kLenientClass[byte] == kRefused) return "the port contains " + refusedCharacterName(byte);
    }
    int number = 0;
    if (port->empty()) {
      // "host:" with nothing after the colon is allowed by RFC 3986; not the problem here.
    } else if (!std::all_of(port->begin(), port->end(), isAsciiDigit)) {
      return "the port " + inQuotes(*port) + " is not a number";
    } else if (!parsePort(*port, number)) {
      return "the port " + std::string(*port) + " is above 65535";
    }
  }
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (kLenientClass[byte] == kRefused) return "the link contains " + refusedCharacterName(byte);
  }
  if (auto escape = badEscape(text)) return "invalid percent-escape " + inQuotes(*escape);
  if (!host.empty() && !host.starts_with('[') &&
      host.find_first_of("[]") != std::string_view::npos) {
    return "a [ or ] in the host outside an IP address";
  }
  return "the text is not a valid link";
}

namespace {

constexpr ByteSet kPlainHostSet = makeSet("");

// The host of "scheme://host[/path][?query][#fragment]" when every part is written with RFC 3986
// characters only: such a text always parses, unchanged by the lenient step, and its host needs
// no decoding. Nothing for any other shape (user info, port, escapes in the host, characters the
// lenient step would touch, white space...), which the caller leaves to the full parser.
std::optional<std::string_view> plainWebHost(std::string_view text) {
  const std::size_t name = schemeNameEnd(text);
  if (name == 0 || text.substr(name, 3) != "://") return std::nullopt;
  const std::size_t hostStart = name + 3;
  std::size_t hostEnd = hostStart;
  while (hostEnd < text.size() && kPlainHostSet[static_cast<unsigned char>(text[hostEnd])]) {
    ++hostEnd;
  }
  if (hostEnd == hostStart) return std::nullopt;
  bool inFragment = false;
  for (std::size_t j = hostEnd; j < text.size(); ++j) {
    const char c = text[j];
    if (j == hostEnd && c != '/' && c != '?' && c != '#') return std::nullopt;
    if (kQuerySet[static_cast<unsigned char>(c)]) continue;
    if (c == '%' && j + 2 < text.size() && Text::hexDigitValue(text[j + 1]) >= 0 &&
        Text::hexDigitValue(text[j + 2]) >= 0) {
      j += 2;
      continue;
    }
    if (c == '#' && !inFragment) {
      inFragment = true;
      continue;
    }
    return std::nullopt;
  }
  return text.substr(hostStart, hostEnd - hostStart);
}

}  // namespace

std::optional<std::string> URL::hostOf(std::string_view text) {
  if (auto plain = plainWebHost(text)) return std::string(*plain);
  auto url = parse(text);
  return url ? url->host() : std::nullopt;
}

std::optional<std::string> URL::slice(Range range) const {
  if (!range.present) return std::nullopt;
  return m_text.substr(range.begin, range.end - range.begin);
}

std::optional<std::string> URL::scheme() const {
  return slice(m_scheme);
}

std::optional<std::string> URL::user() const {
  if (!m_user.present) return std::nullopt;
  return decodedOrWritten(*slice(m_user));
}

std::optional<std::string> URL::password() const {
  if (!m_password.present) return std::nullopt;
  return decodedOrWritten(*slice(m_password));
}

std::optional<std::string> URL::host() const {
  if (!m_host.present || m_host.begin == m_host.end) return std::nullopt;
  return decodedOrWritten(*slice(m_host));
}

std::optional<std::string> URL::percentEncodedHost() const {
  if (!m_host.present || m_host.begin == m_host.end) return std::nullopt;
  return slice(m_host);
}

std::optional<int> URL::port() const {
  if (!m_port.present || m_port.begin == m_port.end) return std::nullopt;
  int port = 0;
  if (!parsePort(std::string_view(m_text).substr(m_port.begin, m_port.end - m_port.begin), port)) {
    return std::nullopt;
  }
  return port;
}

std::string URL::path() const {
  std::string path = decodedOrWritten(percentEncodedPath());
  if (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string URL::percentEncodedPath() const {
  return slice(m_path).value_or(std::string());
}

std::optional<std::string> URL::query() const {
  return slice(m_query);
}

std::optional<std::string> URL::fragment() const {
  return slice(m_fragment);
}

std::vector<QueryItem> URL::queryItems() const {
  if (!m_query.present) return {};
  return splitQuery(std::string_view(m_text).substr(m_query.begin, m_query.end - m_query.begin));
}

std::optional<URL> URL::resolving(std::string_view relative) const {
  const auto reference = URL::parse(relative);
  if (!reference) return std::nullopt;
  UriHolder base;
  UriHolder ref;
  if (!base.parse(m_text) || !ref.parse(reference->m_text)) return std::nullopt;
  UriHolder resolved;
  if (!resolved.resolve(ref, base)) return std::nullopt;
  int length = 0;
  if (uriToStringCharsRequiredA(&resolved.uri, &length) != URI_SUCCESS || length < 0) {
    return std::nullopt;
  }
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  if (uriToStringA(text.data(), &resolved.uri, length + 1, nullptr) != URI_SUCCESS) {
    return std::nullopt;
  }
  text.resize(static_cast<std::size_t>(length));
  return URL::parse(text);
}

URLComponents::URLComponents(const URL& url) {
  scheme = url.slice(url.m_scheme);
  if (url.m_hasAuthority) {
    percentEncodedUser = url.slice(url.m_user);
    percentEncodedPassword = url.slice(url.m_password);
    percentEncodedHost = url.slice(url.m_host).value_or(std::string());
    port = url.port();
  }
  percentEncodedPath = url.percentEncodedPath();
  percentEncodedQuery = url.slice(url.m_query);
  fragment = url.slice(url.m_fragment);
}

std::optional<URLComponents> URLComponents::parse(std::string_view text) {
  auto url = URL::parse(text);
  if (!url) return std::nullopt;
  return URLComponents(*url);
}

std::optional<std::string> URLComponents::host() const {
  if (!percentEncodedHost || percentEncodedHost->empty()) return std::nullopt;
  return decodedOrWritten(*percentEncodedHost);
}

void URLComponents::setHost(std::optional<std::string_view> host) {
  if (!host) {
    // Without a host there is no authority to hold these either.
    percentEncodedHost.reset();
    percentEncodedUser.reset();
    percentEncodedPassword.reset();
    port.reset();
    return;
  }
  percentEncodedHost = PercentEncoding::encode(*host, PercentEncoding::Component::host);
}

std::string URLComponents::path() const {
  return decodedOrWritten(percentEncodedPath);
}

void URLComponents::setPath(std::string_view path) {
  percentEncodedPath = PercentEncoding::encode(path, PercentEncoding::Component::path);
}

std::optional<std::vector<QueryItem>> URLComponents::queryItems() const {
  if (!percentEncodedQuery) return std::nullopt;
  return splitQuery(*percentEncodedQuery);
}

void URLComponents::setQueryItems(const std::optional<std::vector<QueryItem>>& items) {
  if (!items) {
    percentEncodedQuery.reset();
    return;
  }
  std::string query;
  for (std::size_t i = 0; i < items->size(); ++i) {
    const QueryItem& item = (*items)[i];
    if (i > 0) query.push_back('&');
    appendEncoded(query, item.name, kQueryItemSet);
    if (item.value) {
      query.push_back('=');
      appendEncoded(query, *item.value, kQueryItemSet);
    }
  }
  percentEncodedQuery = std::move(query);
}

std::string URLComponents::string() const {
  std::string text;
  if (scheme) {
    text += *scheme;
    text.push_back(':');
  }
  if (percentEncodedHost) {
    text += "//";
    if (percentEncodedUser || percentEncodedPassword) {
      text += percentEncodedUser.value_or(std::string());
      if (percentEncodedPassword) {
        text.push_back(':');
        text += *percentEncodedPassword;
      }
      text.push_back('@');
    }
    text += *percentEncodedHost;
    if (port) {
      text.push_back(':');
      text += std::to_string(*port);
    }
  }
  text += percentEncodedPath;
  if (percentEncodedQuery) {
    text.push_back('?');
    text += *percentEncodedQuery;
  }
  if (fragment) {
    text.push_back('#');
    text += *fragment;
  }
  return text;
}

std::optional<URL> URLComponents::url() const {
  const std::string text = string();
  auto url = URL::parse(text);
  // The text must parse as written and give back exactly these parts: a path without a leading
  // "/" after a host, or a host holding "/", would otherwise yield a different URL silently.
  if (!url || url->absoluteString() != text || URLComponents(*url) != *this) return std::nullopt;
  return url;
}

std::optional<std::string> URL::fileLink(std::string_view absolutePath) {
  if (absolutePath.empty() || absolutePath.front() != '/') return std::nullopt;
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string link = "file://";
  link.reserve(link.size() + absolutePath.size() * 3);
  for (const char c : absolutePath) {
    const auto byte = static_cast<unsigned char>(c);
    const bool unreserved = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                            (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
    if (unreserved || c == '/') {
      link += c;
    } else {
      link += '%';
      link += kHex[byte >> 4];
      link += kHex[byte & 0x0F];
    }
  }
  return link;
}

}  // namespace linkferry
