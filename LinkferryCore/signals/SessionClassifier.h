#pragma once

#include <string>
#include <vector>

#include "foundation/Dates.h"
#include "signals/CookieRecord.h"
#include "signals/SessionLevel.h"

namespace linkferry {

// Decides from one target's cookies for one site whether the target is signed in there. Any live
// cookie, even a session cookie, marks a weak session; a persistent, recently used cookie whose
// name looks like an authentication token marks a strong one.
struct SessionClassifier {
  std::vector<std::string> keywords;  // lowercased; matched as substrings of cookie names
  double maxIdle = kDefaultMaxIdle;   // seconds since the last access that still count as "in use"

  static constexpr double kDefaultMaxIdle = 2592000;  // 30 days

  // "session", "sess", "sid", "auth", "token", "login", "logged", "jwt", "sapisid", "__secure-",
  // "__host-".
  static const std::vector<std::string>& defaultKeywords();

  // Keywords are lowercased here, once.
  explicit SessionClassifier(const std::vector<std::string>& keywords = defaultKeywords(),
                             double maxIdle = kDefaultMaxIdle);

  // Cookies that expired at or before `now` are ignored; every other cookie makes the level at
  // least `weak`; the first cookie that is persistent, expires after `now`, was last accessed no
  // more than `maxIdle` seconds before `now` (or never), and whose lowercased name contains a
  // keyword makes it `strong`.
  SessionLevel level(const std::vector<CookieRecord>& cookies, Date now) const;

  bool operator==(const SessionClassifier&) const = default;
};

}  // namespace linkferry
