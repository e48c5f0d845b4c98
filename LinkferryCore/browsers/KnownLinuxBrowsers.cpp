#include "browsers/KnownLinuxBrowsers.h"

#include <algorithm>
#include <system_error>

#include "foundation/Text.h"

namespace linkferry::KnownLinuxBrowsers {

const std::vector<Entry>& all() {
  using F = BrowserFamily;
  static const auto& entries = *new std::vector<Entry>{
      {{"google-chrome"}, "Google Chrome", F::chromium, {".config/google-chrome"}},
      {{"google-chrome-beta"}, "Google Chrome Beta", F::chromium, {".config/google-chrome-beta"}},
      {{"com.google.Chrome"},
       "Google Chrome",
       F::chromium,
       {".var/app/com.google.Chrome/config/google-chrome"}},
      {{"chromium", "chromium-browser"}, "Chromium", F::chromium, {".config/chromium"}},
      {{"chromium_chromium"}, "Chromium", F::chromium, {"snap/chromium/common/chromium"}},
      {{"org.chromium.Chromium"},
       "Chromium",
       F::chromium,
       {".var/app/org.chromium.Chromium/config/chromium"}},
      {{"brave-browser"}, "Brave", F::chromium, {".config/BraveSoftware/Brave-Browser"}},
      {{"com.brave.Browser"},
       "Brave",
       F::chromium,
       {".var/app/com.brave.Browser/config/BraveSoftware/Brave-Browser"}},
      {{"brave_brave"},
       "Brave",
       F::chromium,
       {"snap/brave/current/.config/BraveSoftware/Brave-Browser",
        "snap/brave/common/.config/BraveSoftware/Brave-Browser"}},
      {{"microsoft-edge"}, "Microsoft Edge", F::chromium, {".config/microsoft-edge"}},
      {{"com.microsoft.Edge"},
       "Microsoft Edge",
       F::chromium,
       {".var/app/com.microsoft.Edge/config/microsoft-edge"}},
      {{"vivaldi-stable"}, "Vivaldi", F::chromium, {".config/vivaldi"}},
      {{"com.vivaldi.Vivaldi"},
       "Vivaldi",
       F::chromium,
       {".var/app/com.vivaldi.Vivaldi/config/vivaldi"}},
      {{"opera"}, "Opera", F::chromium, {".config/opera"}},
      {{"firefox", "firefox-esr"},
       "Firefox",
       F::firefox,
       {".config/mozilla/firefox", ".mozilla/firefox"}},
      {{"org.mozilla.firefox"},
       "Firefox",
       F::firefox,
       {".var/app/org.mozilla.firefox/config/mozilla/firefox",
        ".var/app/org.mozilla.firefox/.mozilla/firefox"}},
      {{"firefox_firefox"},
       "Firefox",
       F::firefox,
       {"snap/firefox/common/.config/mozilla/firefox", "snap/firefox/common/.mozilla/firefox"}},
      {{"librewolf"}, "LibreWolf", F::firefox, {".librewolf"}},
      {{"io.gitlab.librewolf-community"},
       "LibreWolf",
       F::firefox,
       {".var/app/io.gitlab.librewolf-community/.librewolf"}},
      {{"zen", "zen-browser"}, "Zen", F::firefox, {".zen"}},
      {{"app.zen_browser.zen"}, "Zen", F::firefox, {".var/app/app.zen_browser.zen/.zen"}},
  };
  return entries;
}

const Entry* entry(const std::string& desktopID) {
  for (const Entry& candidate : all()) {
    for (const std::string& id : candidate.desktopIDs) {
      if (id == desktopID) return &candidate;
    }
  }
  return nullptr;
}

std::vector<std::string> commonNames(const std::string& desktopID) {
  const Entry* known = entry(desktopID);
  if (!known) return {};
  // Short names by the entry's name: what people call the browser in speech and scripts.
  static const auto& shortNames = *new std::vector<std::pair<std::string, std::string>>{
      {"Google Chrome", "chrome"},
      {"Google Chrome", "google-chrome"},
      {"Google Chrome Beta", "chrome-beta"},
      {"Chromium", "chromium-browser"},
      {"Brave", "brave-browser"},
      {"Microsoft Edge", "edge"},
      {"Microsoft Edge", "microsoft-edge"},
      {"Vivaldi", "vivaldi-stable"},
      {"Firefox", "firefox"},
      {"Firefox", "firefox-esr"},
      {"LibreWolf", "librewolf"},
      {"Zen", "zen-browser"},
  };
  std::vector<std::string> names;
  auto add = [&](const std::string& name) {
    std::string lowered = Text::lowercased(name);
    if (lowered != Text::lowercased(desktopID) &&
        std::find(names.begin(), names.end(), lowered) == names.end()) {
      names.push_back(std::move(lowered));
    }
  };
  for (const std::string& id : known->desktopIDs) add(id);
  add(known->name);
  for (const auto& [name, shortName] : shortNames) {
    if (name == known->name) add(shortName);
  }
  return names;
}

std::string dataDir(const Entry& entry, const std::filesystem::path& home) {
  const char* indexFile = entry.family == BrowserFamily::firefox ? "profiles.ini" : "Local State";
  for (const std::string& relative : entry.dataDirs) {
    std::error_code error;
    if (std::filesystem::exists(home / relative / indexFile, error))
      return (home / relative).string();
  }
  return entry.dataDirs.empty() ? home.string() : (home / entry.dataDirs.front()).string();
}

}  // namespace linkferry::KnownLinuxBrowsers
