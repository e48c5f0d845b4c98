#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "foundation/URL.h"

namespace linkferry {

// What following a short link gave.
struct ShortLinkExpansion {
  // Where the expansion ended; the short link itself when nothing was expanded.
  URL url;
  // Every URL requested, in order; the first is the short link. Its length is the number of
  // requests made.
  std::vector<URL> hops;
  // Why the link was not expanded (or, when `url` differs from the short link, why the chain
  // stopped before its end); none when it was expanded whole, or the first hop simply answered
  // without a redirect after more than one request.
  std::optional<std::string> failure;

  bool operator==(const ShortLinkExpansion&) const = default;
};

// Follows short links. `expand` never fails: failures are described in the result. It may be
// called from any thread and may block for as long as its own time limit.
class ShortLinkExpanding {
 public:
  virtual ~ShortLinkExpanding() = default;
  virtual ShortLinkExpansion expand(const URL& url) const = 0;
};

}  // namespace linkferry

template <>
struct std::hash<linkferry::ShortLinkExpansion> {
  std::size_t operator()(const linkferry::ShortLinkExpansion& expansion) const noexcept {
    std::size_t hash = std::hash<linkferry::URL>()(expansion.url);
    auto mix = [&hash](std::size_t value) {
      hash ^= value + 0x9e3779b97f4a7c15ull + (hash << 6) + (hash >> 2);
    };
    for (const auto& hop : expansion.hops) mix(std::hash<linkferry::URL>()(hop));
    mix(expansion.failure ? std::hash<std::string>()(*expansion.failure) : 0x51);
    return hash;
  }
};
