#include "browsers/KnownBrowsers.h"

namespace linkferry::KnownBrowsers {

const std::vector<Entry>& all() {
  using F = BrowserFamily;
  static const auto& entries = *new std::vector<Entry>{
      {"com.google.Chrome", "Google Chrome", F::chromium, "Google/Chrome"},
      {"org.chromium.Chromium", "Chromium", F::chromium, "Chromium"},
      {"com.brave.Browser", "Brave", F::chromium, "BraveSoftware/Brave-Browser"},
      {"com.microsoft.edgemac", "Microsoft Edge", F::chromium, "Microsoft Edge"},
      {"com.vivaldi.Vivaldi", "Vivaldi", F::chromium, "Vivaldi"},
      {"company.thebrowser.Browser", "Arc", F::chromium, "Arc/User Data"},
      {"company.thebrowser.dia", "Dia", F::chromium, "Dia/User Data"},
      {"com.operasoftware.Opera", "Opera", F::chromium, "com.operasoftware.Opera"},
      {"com.operasoftware.OperaGX", "Opera GX", F::chromium, "com.operasoftware.OperaGX"},
      {"ai.perplexity.comet", "Comet", F::chromium, "Comet"},
      {"org.mozilla.firefox", "Firefox", F::firefox, "Firefox"},
      {"app.zen-browser.zen", "Zen", F::firefox, "zen"},
      {"io.gitlab.librewolf-community", "LibreWolf", F::firefox, "librewolf"},
      {"com.apple.Safari", "Safari", F::safari, std::nullopt},
  };
  return entries;
}

const Entry* entry(const std::string& bundleID) {
  for (const Entry& candidate : all()) {
    if (candidate.bundleID == bundleID) return &candidate;
  }
  return nullptr;
}

}  // namespace linkferry::KnownBrowsers
