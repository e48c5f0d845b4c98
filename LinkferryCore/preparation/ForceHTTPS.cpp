#include "preparation/ForceHTTPS.h"

#include <arpa/inet.h>

#include <array>
#include <cstdint>

#include "foundation/Text.h"
#include "rules/Glob.h"

namespace linkferry::ForceHTTPS {
namespace {

bool isLocalIPv4(std::uint32_t address) {
  const unsigned a = address >> 24;
  const unsigned b = (address >> 16) & 0xFF;
  return a == 0 || a == 10 || a == 127 || (a == 169 && b == 254) || (a == 192 && b == 168) ||
         (a == 172 && b >= 16 && b <= 31);
}

// One part of an IPv4 address as browsers read it: decimal, "0x" hexadecimal or "0" octal.
std::optional<std::uint64_t> ipv4Part(std::string_view text) {
  int base = 10;
  if (text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  } else if (text.size() > 1 && text[0] == '0') {
    base = 8;
    text.remove_prefix(1);
  }
  if (text.empty()) return base == 16 ? std::optional<std::uint64_t>(0) : std::nullopt;
  if (text.size() > 12) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return std::nullopt;
    if (digit >= base) return std::nullopt;
    value = value * base + static_cast<std::uint64_t>(digit);
  }
  return value;
}

// The address a host of one to four numeric parts names, read as browsers do: the last part
// fills the bytes the others leave ("127.1" is 127.0.0.1). Nothing when it is no such address.
std::optional<std::uint32_t> ipv4Address(const std::vector<std::string_view>& parts) {
  if (parts.empty() || parts.size() > 4) return std::nullopt;
  std::uint64_t address = 0;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    auto value = ipv4Part(parts[i]);
    if (!value) return std::nullopt;
    if (i + 1 < parts.size()) {
      if (*value > 255) return std::nullopt;
      address |= *value << (8 * (3 - i));
    } else {
      const std::size_t remainingBits = 8 * (4 - i);
      if (*value >= (std::uint64_t(1) << remainingBits)) return std::nullopt;
      address |= *value;
    }
  }
  return static_cast<std::uint32_t>(address);
}

bool isLocalIPv6(std::string_view host) {
  std::string text(host.substr(0, host.find('%')));  // a zone ("fe80::1%en0") is local anyway
  std::array<unsigned char, 16> bytes{};
  if (inet_pton(AF_INET6, text.c_str(), bytes.data()) != 1) {
    return host == "::1" || host.starts_with("fe80:") || host.starts_with("fc") ||
           host.starts_with("fd");
  }
  bool zeroUpTo10 = true;
  for (int i = 0; i < 10; ++i) zeroUpTo10 = zeroUpTo10 && bytes[i] == 0;
  if (zeroUpTo10 && bytes[10] == 0xFF && bytes[11] == 0xFF) {  // IPv4-mapped
    return isLocalIPv4(std::uint32_t(bytes[12]) << 24 | std::uint32_t(bytes[13]) << 16 |
                       std::uint32_t(bytes[14]) << 8 | bytes[15]);
  }
  bool zeroUpTo15 = zeroUpTo10 && bytes[10] == 0 && bytes[11] == 0 && bytes[12] == 0 &&
                    bytes[13] == 0 && bytes[14] == 0;
  if (zeroUpTo15 && bytes[15] <= 1) return true;                     // "::1" and "::"
  if (bytes[0] == 0xFE && (bytes[1] & 0xC0) == 0x80) return true;    // fe80::/10
  return (bytes[0] & 0xFE) == 0xFC;                                  // fc00::/7
}

}  // namespace

bool isLocal(std::string_view host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  if (host.find(':') != std::string_view::npos) return isLocalIPv6(host);
  // A fully qualified name ("printer.local.") names the same machine as without its last dot.
  while (host.ends_with('.')) host.remove_suffix(1);
  if (host == "localhost") return true;
  for (std::string_view suffix : {".localhost", ".local", ".internal", ".home.arpa", ".lan"})
    if (host.ends_with(suffix)) return true;

  std::vector<std::string_view> parts;
  for (std::string_view part : Text::split(host, '.'))
    if (!part.empty()) parts.push_back(part);
  if (auto address = ipv4Address(parts)) return isLocalIPv4(*address);
  return host.find('.') == std::string_view::npos;
}

std::optional<URL> upgrade(const URL& url, const std::vector<std::string>& exceptions) {
  auto scheme = url.scheme();
  if (!scheme || Text::asciiLowercased(*scheme) != "http") return std::nullopt;
  auto rawHost = url.host();
  if (!rawHost || rawHost->empty()) return std::nullopt;
  const std::string host = Text::lowercased(*rawHost);
  if (isLocal(host)) return std::nullopt;
  for (const std::string& exception : exceptions) {
    const std::string pattern =
        Text::lowercased(Text::trimmed(exception, Text::TrimSet::spacesAndTabs));
    if (pattern.empty()) continue;
    if (pattern.starts_with("*.") && std::string_view(pattern).substr(2) == host)
      return std::nullopt;
    if (Glob::wildcard(pattern, host)) return std::nullopt;
  }
  URLComponents components(url);
  components.scheme = "https";
  if (components.port == 80) components.port.reset();
  return components.url();
}

}  // namespace linkferry::ForceHTTPS
