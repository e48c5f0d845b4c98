#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// One HTTP request at a time over libcurl, with the privacy every caller here wants: no cookies,
// no cache, no stored credentials (.netrc, a user name in the link), no proxy, only http and
// https, and redirects never followed (each caller decides what a `Location` is worth). A
// blocking call, safe from any thread; nothing is shared between calls.
namespace linkferry::Http {

enum class Method { head, get };

struct Request {
  std::string url;
  Method method = Method::get;
  // The limit for the whole request, connecting included. At least one millisecond is used.
  std::chrono::milliseconds timeout{30'000};
  std::string userAgent;
  std::vector<std::string> headers;  // extra header lines, "Name: value"
  // A GET that ends as soon as the response head has arrived: the connection is closed before
  // any of the body is read.
  bool headOnly = false;
  // A longer body fails the request (GET only).
  std::size_t maxBodyBytes = 16 * 1024 * 1024;
  // Never connect to a loopback, private, link-local, shared, multicast or unspecified address,
  // whatever a name resolves to, except to an address pinned in `resolve`.
  bool publicAddressesOnly = false;
  // Fixed name resolutions, "host:port:address" (libcurl's CURLOPT_RESOLVE), for the caller's
  // own hosts; empty in ordinary use.
  std::vector<std::string> resolve;
  // A PEM file of the only authorities trusted for https, instead of this system's store; empty
  // in ordinary use.
  std::string caFile;
};

struct Response {
  int status = 0;
  // The response head's fields in order, names as sent.
  std::vector<std::pair<std::string, std::string>> headers{};
  std::string body{};  // empty for HEAD and head-only GETs

  // The first field of that name, compared without regard to ASCII case; values trimmed.
  std::optional<std::string> header(std::string_view name) const;
};

// A request that got no response: what went wrong, in one English sentence ("Timeout was reached
// (Operation timed out after 500 milliseconds with 0 bytes received)", "connection to the
// non-public address 127.0.0.1 refused").
class HttpError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The body grew past `Request::maxBodyBytes`.
class HttpBodyTooLarge : public HttpError {
 public:
  using HttpError::HttpError;
};

// Sends the request and returns the response, whatever its status. Throws HttpError when there is
// no response (no connection, time-out, TLS failure, a refused address, a body over the limit).
Response send(const Request& request);

// Whether a numeric IPv4 or IPv6 address (no brackets) belongs to the public internet: not
// loopback, private, link-local, shared (100.64.0.0/10), multicast, reserved or unspecified,
// also in IPv4-mapped IPv6 form. False for a text that is no address.
bool isPublicAddress(std::string_view address);

}  // namespace linkferry::Http
