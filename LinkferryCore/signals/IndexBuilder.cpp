#include "signals/IndexBuilder.h"

#include <exception>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "foundation/L10n.h"
#include "foundation/URL.h"
#include "signals/ChromiumReader.h"
#include "signals/FirefoxReader.h"
#include "signals/SafariReader.h"

namespace linkferry {

namespace {

// The site keys of the hosts met during one build. Histories repeat a few hosts over
// and over; each is looked up in the suffix list once.
class DomainCache {
 public:
  explicit DomainCache(const PublicSuffixList& psl) : m_psl(psl) {}

  const std::optional<std::string>& domain(const std::string& host) {
    auto found = m_domains.find(host);
    if (found != m_domains.end()) return found->second;
    return m_domains.emplace(host, m_psl.siteKey(host)).first->second;
  }

 private:
  const PublicSuffixList& m_psl;
  std::unordered_map<std::string, std::optional<std::string>> m_domains;
};

void merge(HistoryStat& stat, Date lastVisit, std::int64_t visits) {
  if (lastVisit > stat.lastVisit) stat.lastVisit = lastVisit;
  stat.visits += visits;
}

class Build {
 public:
  Build(const IndexBuilder& builder, Date now)
      : m_builder(builder), m_now(now), m_domains(builder.psl) {}

  void addHistory(const std::vector<HistoryRecord>& records, const BrowserTarget& target) {
    // Gathered per host first: a history repeats a few thousand hosts over and over, so the
    // suffix list and the index are consulted once per host rather than once per link.
    std::unordered_map<std::string, HistoryStat> byHost;
    for (const HistoryRecord& record : records) {
      auto host = URL::hostOf(record.url);
      if (!host) continue;
      auto [entry, added] = byHost.try_emplace(std::move(*host), HistoryStat{record.lastVisit, 0});
      merge(entry->second, record.lastVisit, record.visitCount);
    }
    for (const auto& [host, hostStat] : byHost) {
      const auto& domain = m_domains.domain(host);
      if (!domain) continue;
      auto& history = m_index.domains[*domain].history;
      auto [entry, added] = history.try_emplace(target, hostStat);
      if (!added) merge(entry->second, hostStat.lastVisit, hostStat.visits);
    }
  }

  void addSessions(std::vector<CookieRecord> cookies, const BrowserTarget& base) {
    // domain → container → that target's cookies for the domain
    std::unordered_map<std::string, std::map<std::optional<std::string>, std::vector<CookieRecord>>>
        groups;
    for (CookieRecord& cookie : cookies) {
      const auto& domain = m_domains.domain(cookie.host);
      if (!domain) continue;
      auto container = cookie.container;
      groups[*domain][container].push_back(std::move(cookie));
    }
    for (const auto& [domain, byContainer] : groups) {
      for (const auto& [container, group] : byContainer) {
        SessionLevel level = m_builder.classifier.level(group, m_now);
        if (level == SessionLevel::none) continue;
        BrowserTarget target = base;
        target.container = container;
        m_index.domains[domain].sessions[target] = level;
      }
    }
  }

  void issue(const BrowserTarget& target, std::string source, std::string message) {
    m_index.issues.push_back({target, std::move(source), std::move(message)});
  }

  SignalIndex finish() && {
    m_index.builtAt = m_now;
    return std::move(m_index);
  }

 private:
  const IndexBuilder& m_builder;
  Date m_now;
  DomainCache m_domains;
  SignalIndex m_index;
};

// Runs one read; on failure returns the error's text.
template <typename Read>
std::optional<std::string> attempt(Read&& read) {
  try {
    read();
    return std::nullopt;
  } catch (const std::exception& error) {
    return std::string(error.what());
  }
}

}  // namespace

IndexBuilder IndexBuilder::standard(bool readSafariHistory) {
  IndexBuilder builder{PublicSuffixList::shared(), SessionClassifier(), kDefaultHistoryWindow,
                       std::nullopt};
  if (readSafariHistory) builder.safariHistoryDB = SafariReader::defaultHistoryDB();
  return builder;
}

SignalIndex IndexBuilder::build(const BrowserCatalog& catalog, Date now) const {
  Build build(*this, now);
  const Date since = now.adding(-historyWindow);

  for (const CatalogBrowser& browser : catalog.browsers) {
    const BrowserDefinition& definition = browser.definition;
    switch (definition.family) {
      case BrowserFamily::chromium:
      case BrowserFamily::firefox: {
        const bool chromium = definition.family == BrowserFamily::chromium;
        for (const BrowserProfile& profile : browser.profiles) {
          BrowserTarget target{definition.id, profile.id, std::nullopt, false};
          std::vector<CookieRecord> cookies;
          auto cookieError = attempt([&] {
            cookies = chromium ? ChromiumReader::cookies(profile.path)
                               : FirefoxReader::cookies(profile.path);
          });
          if (cookieError) {
            build.issue(target, "cookies", std::move(*cookieError));
          } else {
            build.addSessions(std::move(cookies), target);
          }

          std::vector<HistoryRecord> history;
          auto historyError = attempt([&] {
            history = chromium ? ChromiumReader::history(profile.path, since)
                               : FirefoxReader::history(profile.path, since);
          });
          if (historyError) {
            build.issue(target, "history", std::move(*historyError));
          } else {
            build.addHistory(history, target);
          }
        }
        break;
      }
      case BrowserFamily::safari: {
        if (!safariHistoryDB) break;
        BrowserTarget target{definition.id, std::nullopt, std::nullopt, false};
        std::vector<HistoryRecord> history;
        auto error = attempt([&] { history = SafariReader::history(*safariHistoryDB, since); });
        if (error) {
          build.issue(target, "history",
                      L10n::tr("%@ (grant Full Disk Access to read Safari history)", {*error}));
        } else {
          build.addHistory(history, target);
        }
        break;
      }
      case BrowserFamily::other:
        break;
    }
  }
  return std::move(build).finish();
}

}  // namespace linkferry
