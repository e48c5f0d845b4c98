#pragma once

#include <filesystem>
#include <optional>

#include "browsers/BrowserCatalog.h"
#include "foundation/Dates.h"
#include "safety/PublicSuffixList.h"
#include "signals/SessionClassifier.h"
#include "signals/SignalIndex.h"

namespace linkferry {

// Builds the signal index from every profile of the catalog's browsers: cookies become sessions
// per (site, target), recent history becomes visit statistics per (site, target), a site being
// the host's site key (PublicSuffixList::siteKey), so hosts in Unicode and in ASCII form meet. A
// source that cannot be read becomes a SourceIssue; a build never fails.
//
// Targets: a Chromium- or Firefox-family profile gives (browser id, profile id), session entries
// adding the cookie's Firefox container; Safari gives the browser id alone. Other families
// contribute nothing.
struct IndexBuilder {
  PublicSuffixList psl;
  SessionClassifier classifier;
  double historyWindow = kDefaultHistoryWindow;  // seconds of history read back from `now`
  // Safari's history database; Safari is read only when this is set.
  std::optional<std::filesystem::path> safariHistoryDB;

  static constexpr double kDefaultHistoryWindow = 7776000;  // 90 days

  // The builder the settings ask for (`AppSettings::useSafariHistory` gives `readSafariHistory`):
  // the shared suffix list, the default session keywords with 30 days of idleness, 90 days of
  // history, and Safari's default history database only when `readSafariHistory`.
  static IndexBuilder standard(bool readSafariHistory);

  // Reads the files synchronously; safe on any thread, shares nothing.
  SignalIndex build(const BrowserCatalog& catalog, Date now) const;
};

}  // namespace linkferry
