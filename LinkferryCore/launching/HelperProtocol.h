#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "foundation/URL.h"
#include "launching/LaunchPlan.h"

// The private channel between the application and its helper: a URL of the helper's own scheme.
//
//   linkferry-helper://run?plan=<JSON of a LaunchPlan in unpadded base64url>
//   linkferry-helper://handler?scheme=<URL scheme>&app=<bundle identifier>
//
// The application encodes (url, handlerURL); the helper decodes (plan, handlerRequest), strictly
// and without ever throwing: whatever is malformed, foreign or truncated is no request at all.
namespace linkferry::HelperProtocol {

inline constexpr std::string_view scheme = "linkferry-helper";
inline constexpr std::string_view helperBundleID = "com.k4t.linkferry.helper";
// The App Store edition of the application: the only sender the helper accepts.
inline constexpr std::string_view appStoreBundleID = "com.k4t.linkferry.appstore";
// The developer team whose signature the sender must carry.
inline constexpr std::string_view teamID = "Q3P9R8T2W5";
// Where the application sends the user to get the helper.
inline constexpr std::string_view downloadPage = "https://linkferry.app/helper/";
// The lowest helper build number the application works with.
inline constexpr int minimumHelperBuild = 8;

// The warning withoutHelper adds to the plan it returns.
inline constexpr std::string_view withoutHelperWarning =
    "opened without its profile or private window: install LinkFerry Helper for those";

// The request to run `plan`: host "run" and one query item "plan" holding the plan's compact
// JSON in the URL-safe base64 alphabet of RFC 4648 section 5, without "=" padding. Throws
// std::invalid_argument when a text of the plan is not UTF-8 (JSON cannot carry it unchanged,
// and a silently altered path or argument would run something else).
URL url(const LaunchPlan& plan);

// The request to make `bundleID` the application that opens links of `scheme`: host "handler",
// query items "scheme" then "app" (percent-encoded where needed).
URL handlerURL(std::string_view scheme, std::string_view bundleID);

// The plan carried by a "run" request; nothing for any other URL. The scheme is compared
// case-insensitively, the host exactly; only the first "plan" item counts, other items and any
// path are ignored; the payload must be strict base64 (after "-"→"+", "_"→"/" and re-padding)
// of a complete plan. Never throws.
std::optional<LaunchPlan> plan(const URL& url) noexcept;

// A decoded "handler" request.
struct HandlerRequest {
  std::string scheme;    // lower-cased; may be empty (the policy refuses that)
  std::string bundleID;  // as sent; never empty
  bool operator==(const HandlerRequest&) const = default;
};

// The handler change carried by a "handler" request; nothing for any other URL, or when the
// first "scheme" item has no value, or the first "app" item is missing or empty. Never throws.
std::optional<HandlerRequest> handlerRequest(const URL& url) noexcept;

// Whether the plan needs the helper, that is whether a sandboxed application cannot run it
// itself: every program but "/usr/bin/open" does, and "/usr/bin/open" does when it passes
// arguments to the started application ("--args").
bool needsHelper(const LaunchPlan& plan);

// The closest plan that needs no helper, for the App Store edition when the helper is missing.
// A plan of another program falls back to its first fallback (the new-tab plan of a current-tab
// script). An "/usr/bin/open" plan loses "--args" and the browser flags after it, keeps its
// link (the last argument, when it does not begin with "-" and is a URL with a scheme), opens
// the running instance ("-na" becomes "-a"), gains withoutHelperWarning and loses its
// fallbacks and note. A plan that already needs no helper comes back unchanged.
LaunchPlan withoutHelper(const LaunchPlan& plan);

}  // namespace linkferry::HelperProtocol
