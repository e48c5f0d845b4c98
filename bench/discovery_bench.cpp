// Browser discovery on Linux: 300 desktop entries (a few browsers among many other applications)
// and a Chromium data folder with 20 profiles.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "browsers/BrowserCatalog.h"
#include "browsers/DesktopEntries.h"
#include "browsers/ProfileScanner.h"

namespace {

namespace fs = std::filesystem;
using namespace linkferry;

void write(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// A folder that lives for the whole program: home/.local/share/applications with 300 entries and
// home/.config/chromium with 20 profiles.
const fs::path& fixture() {
  static const fs::path home = [] {
    std::string pattern = (fs::temp_directory_path() / "linkferry-bench-XXXXXX").string();
    fs::path root = mkdtemp(pattern.data());
    const fs::path applications = root / ".local/share/applications";
    const char* browsers[] = {"chromium", "firefox-esr", "google-chrome", "brave-browser",
                              "vivaldi-stable"};
    for (const char* id : browsers) {
      write(applications / (std::string(id) + ".desktop"),
            std::string("[Desktop Entry]\nType=Application\nName=") + id + "\nName[de]=" + id +
                "\nExec=/usr/bin/" + id +
                " %U\nMimeType=text/html;x-scheme-handler/http;"
                "x-scheme-handler/https;\nCategories=Network;WebBrowser;\n");
    }
    for (int i = 0; i < 295; ++i) {
      std::string text = "[Desktop Entry]\nType=Application\nName=App " + std::to_string(i) + "\n";
      for (const char* language : {"de", "fr", "es", "it", "ja", "zh_CN"}) {
        text += std::string("Name[") + language + "]=App " + std::to_string(i) + "\n";
        text += std::string("Comment[") + language + "]=Does something useful\n";
      }
      text += "Exec=\"/opt/app " + std::to_string(i) + "/bin/app\" --option %F\n";
      text +=
          i % 10 == 0 ? "MimeType=x-scheme-handler/https;text/html;\n" : "MimeType=image/png;\n";
      text += "[Desktop Action new]\nName=New\nExec=app --new\n";
      write(
          applications / ("sub" + std::to_string(i % 3)) / ("app" + std::to_string(i) + ".desktop"),
          text);
    }
    const fs::path chromium = root / ".config/chromium";
    std::string infoCache;
    for (int i = 0; i < 20; ++i) {
      const std::string key = i == 0 ? "Default" : "Profile " + std::to_string(i);
      if (!infoCache.empty()) infoCache += ",";
      infoCache +=
          "\"" + key + "\":{\"name\":\"Person " + std::to_string(i) +
          "\",\"user_name\":\"\",\"default_avatar_fill_color\":-2890755,"
          "\"default_avatar_stroke_color\":-16166200,\"profile_highlight_color\":-2890755,"
          "\"active_time\":1796629879.05,\"avatar_icon\":\"chrome://theme/IDR_PROFILE_AVATAR_26\"}";
      std::string preferences =
          "{\"account_info\":[{\"email\":\"user" + std::to_string(i) +
          "@example.com\"}],\"profile\":{\"name\":\"Person\"},\"padding\":\"" +
          std::string(20000, 'x') + "\"}";
      write(chromium / key / "Preferences", preferences);
    }
    write(chromium / "Local State", "{\"profile\":{\"info_cache\":{" + infoCache + "}}}");
    return root;
  }();
  return home;
}

DesktopEntries::Environment environment() {
  return {{"XDG_DATA_HOME", (fixture() / ".local/share").string()},
          {"XDG_DATA_DIRS", (fixture() / "none").string()},
          {"PATH", "/usr/bin:/bin"}};
}

void LoadDesktopEntries(benchmark::State& state) {
  const auto folders = DesktopEntries::applicationDirectories(fixture(), environment());
  for (auto _ : state) {
    auto entries = DesktopEntries::load(folders);
    benchmark::DoNotOptimize(entries);
    if (entries.size() != 300) state.SkipWithError("expected 300 entries");
  }
}
BENCHMARK(LoadDesktopEntries)->Unit(benchmark::kMillisecond);

void ScanChromiumProfiles(benchmark::State& state) {
  for (auto _ : state) {
    auto profiles = ProfileScanner::chromium(fixture() / ".config/chromium");
    benchmark::DoNotOptimize(profiles);
    if (profiles.size() != 20) state.SkipWithError("expected 20 profiles");
  }
}
BENCHMARK(ScanChromiumProfiles)->Unit(benchmark::kMillisecond);

void DiscoverLinuxCatalog(benchmark::State& state) {
  const auto env = environment();
  for (auto _ : state) {
    auto catalog = BrowserCatalog::discoverLinux(fixture(), env, {});
    benchmark::DoNotOptimize(catalog);
  }
}
BENCHMARK(DiscoverLinuxCatalog)->Unit(benchmark::kMillisecond);

}  // namespace
