#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "foundation/Dates.h"
#include "foundation/URL.h"

namespace linkferry {

// One incoming link and where it came from. A plain value: the application builds it for each
// clicked link; preparation may hand on a copy with a cleaned or expanded `url`, and everything
// after that only reads it. Safe to copy to and read from any thread.
struct LinkRequest {
  // The link as received.
  URL url;
  // Bundle or desktop identifier of the app in which the link was clicked; absent when unknown.
  std::optional<std::string> sourceApp;
  // Title of the window in which the link was clicked; absent when unknown or not collected.
  std::optional<std::string> sourceWindow;
  // When the link arrived.
  Date receivedAt;

  LinkRequest(URL url, std::optional<std::string> sourceApp,
              std::optional<std::string> sourceWindow, Date receivedAt)
      : url(std::move(url)),
        sourceApp(std::move(sourceApp)),
        sourceWindow(std::move(sourceWindow)),
        receivedAt(receivedAt) {}
  // Source app and window unknown.
  LinkRequest(URL url, Date receivedAt) : url(std::move(url)), receivedAt(receivedAt) {}

  bool operator==(const LinkRequest&) const = default;
};

}  // namespace linkferry

template <>
struct std::hash<linkferry::LinkRequest> {
  std::size_t operator()(const linkferry::LinkRequest& request) const noexcept {
    std::size_t hash = std::hash<linkferry::URL>()(request.url);
    auto mix = [&hash](std::size_t value) {
      hash ^= value + 0x9e3779b97f4a7c15ull + (hash << 6) + (hash >> 2);
    };
    mix(request.sourceApp ? std::hash<std::string>()(*request.sourceApp) : 0x51);
    mix(request.sourceWindow ? std::hash<std::string>()(*request.sourceWindow) : 0x52);
    mix(std::hash<double>()(request.receivedAt.secondsSince1970));
    return hash;
  }
};
