#include "signals/SessionClassifier.h"

#include "foundation/Text.h"

namespace linkferry {

const std::vector<std::string>& SessionClassifier::defaultKeywords() {
  static const auto& keywords =
      *new std::vector<std::string>{"session", "sess", "sid",     "auth",      "token",  "login",
                                    "logged",  "jwt",  "sapisid", "__secure-", "__host-"};
  return keywords;
}

SessionClassifier::SessionClassifier(const std::vector<std::string>& keywords, double maxIdle)
    : maxIdle(maxIdle) {
  this->keywords.reserve(keywords.size());
  for (const std::string& keyword : keywords) this->keywords.push_back(Text::lowercased(keyword));
}

SessionLevel SessionClassifier::level(const std::vector<CookieRecord>& cookies, Date now) const {
  SessionLevel level = SessionLevel::none;
  for (const CookieRecord& cookie : cookies) {
    if (cookie.expires && *cookie.expires <= now) continue;
    level = SessionLevel::weak;
    if (!cookie.persistent || !cookie.expires) continue;
    if (cookie.lastAccess && now.secondsSince(*cookie.lastAccess) > maxIdle) continue;
    std::string name = Text::lowercased(cookie.name);
    for (const std::string& keyword : keywords) {
      if (name.find(keyword) != std::string::npos) return SessionLevel::strong;
    }
  }
  return level;
}

}  // namespace linkferry
