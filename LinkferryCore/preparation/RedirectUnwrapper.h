#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/URL.h"

namespace linkferry {

// Recognises links that point at a service's own redirect page (mail link scanners, search result
// pages, social networks' outbound-link pages) and carry the real destination in a query
// parameter, and replaces them by that destination. Makes no network requests. The table is built
// once, on first use; every operation is a pure function of its input, callable from any thread.
struct RedirectUnwrapper {
  // One known wrapper.
  struct Wrapper {
    std::string name;                                           // shown in the trace
    std::function<bool(std::string_view host)> host;            // takes the lower-cased host
    std::function<bool(std::string_view path)> path;            // empty: any path (percent-decoded)
    std::vector<std::string> params;                            // tried in order, case-sensitive
    std::function<std::optional<std::string>(std::string_view)> decode;  // empty: value as is
  };

  struct Unwrapped {
    URL url;
    std::vector<std::string> steps;  // wrapper names, outermost first
    bool operator==(const Unwrapped&) const = default;
  };

  struct Step {
    URL url;
    std::string wrapper;
    bool operator==(const Step&) const = default;
  };

  // At most this many wrappers are peeled from one link.
  static constexpr std::size_t maxDepth = 5;

  // The 13 wrappers, in the order they are tried.
  static const std::vector<Wrapper>& wrappers();

  // Peels wrappers until the link is none or `maxDepth` were removed. A link that is no wrapper
  // comes back unchanged with no steps. Never fails.
  static Unwrapped unwrap(const URL& url);

  // One level: the destination of the first wrapper (in table order) that matches the link's
  // host and path and carries a web address in one of its parameters; nothing otherwise. Only
  // http and https links with a host are looked at.
  static std::optional<Step> unwrapOnce(const URL& url);

  // A candidate destination taken as a web address: the text itself, then the text with one more
  // level of percent-encoding removed, each trimmed of white space; accepted when its scheme is
  // http or https and it has a host. Never javascript:, data: or a scheme-less text.
  static std::optional<URL> httpURL(std::string_view value);

  // Google's search host with a generic or country-code top-level domain, with or without "www."
  // ("google.com", "www.google.co.uk"); not its other subdomains ("images.google.com").
  static bool isGoogle(std::string_view host);

  // Bing's click-tracking value: "a1" followed by URL-safe, unpadded Base64 of UTF-8 text.
  // Nothing without the prefix, for invalid Base64 or for bytes that are not UTF-8.
  static std::optional<std::string> decodeBing(std::string_view value);
};

}  // namespace linkferry
