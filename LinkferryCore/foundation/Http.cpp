#include "foundation/Http.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>

#include "foundation/Text.h"

namespace linkferry::Http {
namespace {

bool isPublicIPv4(std::uint32_t address) {
  const unsigned a = address >> 24;
  const unsigned b = (address >> 16) & 0xFF;
  const unsigned c = (address >> 8) & 0xFF;
  if (a == 0 || a == 10 || a == 127 || a >= 224)
    return false;                                     // "this", private, loopback,
                                                      // multicast and reserved
  if (a == 100 && b >= 64 && b <= 127) return false;  // shared (carrier NAT)
  if (a == 169 && b == 254) return false;             // link-local
  if (a == 172 && b >= 16 && b <= 31) return false;
  if (a == 192 && b == 168) return false;
  if (a == 192 && b == 0 && c == 0) return false;      // protocol assignments
  if (a == 198 && (b == 18 || b == 19)) return false;  // benchmarking
  return true;
}

bool isPublicIPv6(const std::array<unsigned char, 16>& bytes) {
  bool zeroPrefix = std::all_of(bytes.begin(), bytes.begin() + 10, [](auto b) { return b == 0; });
  if (zeroPrefix && bytes[10] == 0xFF && bytes[11] == 0xFF) {
    return isPublicIPv4(std::uint32_t(bytes[12]) << 24 | std::uint32_t(bytes[13]) << 16 |
                        std::uint32_t(bytes[14]) << 8 | bytes[15]);
  }
  if (zeroPrefix &&
      std::all_of(bytes.begin() + 10, bytes.end() - 1, [](auto b) { return b == 0; }) &&
      bytes[15] <= 1)
    return false;                                                   // "::" and "::1"
  if ((bytes[0] & 0xFE) == 0xFC) return false;                      // unique local
  if (bytes[0] == 0xFE && (bytes[1] & 0xC0) == 0x80) return false;  // link-local
  if (bytes[0] == 0xFE && (bytes[1] & 0xC0) == 0xC0) return false;  // old site-local
  return bytes[0] != 0xFF;                                          // multicast
}

// The canonical text of a numeric address, so pinned and connected addresses compare equal.
std::optional<std::string> canonicalAddress(std::string_view text) {
  if (text.size() >= 2 && text.front() == '[' && text.back() == ']')
    text = text.substr(1, text.size() - 2);
  std::string address(text);
  std::array<unsigned char, 16> bytes{};
  char out[INET6_ADDRSTRLEN] = {};
  if (inet_pton(AF_INET, address.c_str(), bytes.data()) == 1) {
    inet_ntop(AF_INET, bytes.data(), out, sizeof out);
    return std::string(out);
  }
  if (inet_pton(AF_INET6, address.c_str(), bytes.data()) == 1) {
    inet_ntop(AF_INET6, bytes.data(), out, sizeof out);
    return std::string(out);
  }
  return std::nullopt;
}

// What one transfer collects from libcurl's callbacks.
struct Transfer {
  const Request* request = nullptr;
  std::set<std::string> pinned;  // addresses the caller's resolve list allows
  std::optional<std::string> refusedAddress;
  int headStatus = 0;  // of the status line being read
  bool headComplete = false;
  bool bodyTooLarge = false;
  Response response;
};

std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto& transfer = *static_cast<Transfer*>(user);
  std::string_view line(data, size * count);
  if (line.starts_with("HTTP/")) {  // a new response head (after an interim 1xx one)
    transfer.response.headers.clear();
    auto space = line.find(' ');
    auto status = space == std::string_view::npos ? std::nullopt
                                                  : Text::parseInteger(line.substr(space + 1, 3));
    transfer.headStatus = status ? static_cast<int>(*status) : 0;
    return line.size();
  }
  std::string_view trimmed = Text::trimmed(line, Text::TrimSet::whitespaceAndNewlines);
  if (trimmed.empty()) {
    if (transfer.headStatus >= 200) {
      transfer.headComplete = true;
      // Returning short makes libcurl end the transfer here, before any of the body is read.
      if (transfer.request->headOnly && transfer.request->method == Method::get) return 0;
    }
    return line.size();
  }
  auto colon = trimmed.find(':');
  if (colon != std::string_view::npos) {
    transfer.response.headers.emplace_back(
        std::string(trimmed.substr(0, colon)),
        std::string(Text::trimmed(trimmed.substr(colon + 1), Text::TrimSet::spacesAndTabs)));
  }
  return line.size();
}

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto& transfer = *static_cast<Transfer*>(user);
  const std::size_t length = size * count;
  if (transfer.response.body.size() + length > transfer.request->maxBodyBytes) {
    transfer.bodyTooLarge = true;
    return 0;
  }
  transfer.response.body.append(data, length);
  return length;
}

curl_socket_t onOpenSocket(void* user, curlsocktype, curl_sockaddr* address) {
  auto& transfer = *static_cast<Transfer*>(user);
  if (transfer.request->publicAddressesOnly) {
    char text[INET6_ADDRSTRLEN] = {};
    std::array<unsigned char, 16> bytes{};
    bool isPublic = false;
    if (address->family == AF_INET) {
      const auto* in = reinterpret_cast<const sockaddr_in*>(&address->addr);
      inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
      isPublic = isPublicIPv4(ntohl(in->sin_addr.s_addr));
    } else if (address->family == AF_INET6) {
      const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&address->addr);
      inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
      std::memcpy(bytes.data(), &in6->sin6_addr, 16);
      isPublic = isPublicIPv6(bytes);
    }
    if (!isPublic && !transfer.pinned.contains(text)) {
      transfer.refusedAddress = text;
      return CURL_SOCKET_BAD;
    }
  }
  return socket(address->family, address->socktype, address->protocol);
}

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using ListPointer = std::unique_ptr<curl_slist, ListDeleter>;

ListPointer makeList(const std::vector<std::string>& lines) {
  curl_slist* list = nullptr;
  for (const std::string& line : lines) {
    curl_slist* longer = curl_slist_append(list, line.c_str());
    if (!longer) {
      curl_slist_free_all(list);
      throw HttpError("out of memory");
    }
    list = longer;
  }
  return ListPointer(list);
}

}  // namespace

std::optional<std::string> Response::header(std::string_view name) const {
  const std::string wanted = Text::asciiLowercased(name);
  for (const auto& [field, value] : headers)
    if (Text::asciiLowercased(field) == wanted) return value;
  return std::nullopt;
}

bool isPublicAddress(std::string_view address) {
  std::string text(address);
  std::array<unsigned char, 16> bytes{};
  if (inet_pton(AF_INET, text.c_str(), bytes.data()) == 1) {
    return isPublicIPv4(std::uint32_t(bytes[0]) << 24 | std::uint32_t(bytes[1]) << 16 |
                        std::uint32_t(bytes[2]) << 8 | bytes[3]);
  }
  if (inet_pton(AF_INET6, text.c_str(), bytes.data()) == 1) return isPublicIPv6(bytes);
  return false;
}

Response send(const Request& request) {
  static std::once_flag initialised;
  std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

  std::unique_ptr<CURL, EasyDeleter> handle(curl_easy_init());
  if (!handle) throw HttpError("cannot start an HTTP request");
  CURL* curl = handle.get();

  Transfer transfer;
  transfer.request = &request;
  for (const std::string& entry : request.resolve) {
    // "host:port:address[,address...]"; an IPv6 address is written in brackets.
    auto first = entry.find(':');
    auto second = first == std::string::npos ? first : entry.find(':', first + 1);
    if (second == std::string::npos) continue;
    for (std::string_view address : Text::split(std::string_view(entry).substr(second + 1), ','))
      if (auto canonical = canonicalAddress(address)) transfer.pinned.insert(*canonical);
  }
  ListPointer headers = makeList(request.headers);
  ListPointer resolve = makeList(request.resolve);
  char errorText[CURL_ERROR_SIZE] = {};
  const long timeout = std::max<long>(1, static_cast<long>(request.timeout.count()));

  curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeout);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, timeout);
  curl_easy_setopt(curl, CURLOPT_PROXY, "");  // an empty proxy name switches proxies off
  curl_easy_setopt(curl, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_IGNORED));
  curl_easy_setopt(curl, CURLOPT_DISALLOW_USERNAME_IN_URL, 1L);
  curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
  if (!request.userAgent.empty())
    curl_easy_setopt(curl, CURLOPT_USERAGENT, request.userAgent.c_str());
  if (headers) curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
  if (resolve) curl_easy_setopt(curl, CURLOPT_RESOLVE, resolve.get());
  if (!request.caFile.empty()) {
    curl_easy_setopt(curl, CURLOPT_CAINFO, request.caFile.c_str());
    curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
  }
  if (request.method == Method::head) curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, onOpenSocket);
  curl_easy_setopt(curl, CURLOPT_OPENSOCKETDATA, &transfer);

  const CURLcode code = curl_easy_perform(curl);
  const bool endedAfterHead = code == CURLE_WRITE_ERROR && transfer.headComplete &&
                              request.headOnly && !transfer.bodyTooLarge;
  if (code != CURLE_OK && !endedAfterHead) {
    if (transfer.refusedAddress)
      throw HttpError("connection to the non-public address " + *transfer.refusedAddress +
                      " refused");
    if (transfer.bodyTooLarge)
      throw HttpBodyTooLarge("the answer is larger than " + std::to_string(request.maxBodyBytes) +
                      " bytes");
    std::string reason = curl_easy_strerror(code);
    std::string detail(Text::trimmed(errorText, Text::TrimSet::whitespaceAndNewlines));
    if (!detail.empty() && detail != reason) reason += " (" + detail + ")";
    throw HttpError(reason);
  }
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  transfer.response.status = static_cast<int>(status);
  return std::move(transfer.response);
}

}  // namespace linkferry::Http
