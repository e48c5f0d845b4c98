#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/URL.h"

// The upgrade of plain http links to https. Pure; callable from any thread.
namespace linkferry::ForceHTTPS {

// The https form of an http link to a named, non-local host (port 80 dropped, any other port
// kept); nothing for any other scheme, a local host, or a host covered by one of `exceptions`.
// An exception is trimmed of spaces and tabs and lower-cased, then matches the whole host as a
// glob ("*" any run, dots included; "?" one character); "*.example.org" covers example.org too.
std::optional<URL> upgrade(const URL& url, const std::vector<std::string>& exceptions);

// Whether a lower-cased host names this machine or one on a private network, where https is
// rarely served: "localhost" and the local-only domains (".local", ".internal", ".home.arpa",
// ".lan", ".localhost", a trailing "." allowed), single-label names, and the loopback,
// unspecified, private and link-local IPv4 and IPv6 addresses in any of their written forms
// ("[::1]", "[0:0:0:0:0:0:0:1]", "[::ffff:127.0.0.1]", "127.1", "[fe80::1%25en0]").
bool isLocal(std::string_view host);

}  // namespace linkferry::ForceHTTPS
