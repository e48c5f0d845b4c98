// What each source of a click's context costs the click: the active window of an X server
// (Xvfb), logind's screen lock and NetworkManager's networks on a private bus with stand-ins, and
// each of them when there is nothing to ask (no display, no bus), then the whole context. "Cold"
// connects for every click (as `linkferry open` in a process of its own does); "Kept" reuses the
// connections of the last click (as the service does).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>

#include "LinuxContext.h"
#include "SourceApp.h"
#include "browsers/DesktopEntries.h"
#include "fixtures/LinuxSession.h"

namespace {

using namespace linkferry;
using namespace linkferry::testing;

// One session for the whole program: Xvfb with an active window, a bus with stand-ins.
struct Session {
  Session() : folder(makeFolder()), bus(folder), windows(xvfb()) {
    const std::string wifi = "/org/freedesktop/NetworkManager/ActiveConnection/1";
    const std::string wired = "/org/freedesktop/NetworkManager/ActiveConnection/2";
    const std::string active = "org.freedesktop.NetworkManager.Connection.Active";
    const std::string accessPoint = "/org/freedesktop/NetworkManager/AccessPoint/1";
    using S = StandInServices;
    std::map<S::Key, S::Writer> table = {
        {{"/org/freedesktop/login1/session/auto", "org.freedesktop.login1.Session", "LockedHint"},
         S::boolean(false)},
        {{"/org/freedesktop/NetworkManager", "org.freedesktop.NetworkManager", "ActiveConnections"},
         S::paths({wifi, wired})},
        {{accessPoint, "org.freedesktop.NetworkManager.AccessPoint", "Ssid"}, S::bytes("Home")},
        {{wifi, active, "State"}, S::number(2)},
        {{wifi, active, "Type"}, S::text("802-11-wireless")},
        {{wifi, active, "Id"}, S::text("Home")},
        {{wifi, active, "SpecificObject"}, S::text(accessPoint, 'o')},
        {{wired, active, "State"}, S::number(2)},
        {{wired, active, "Type"}, S::text("802-3-ethernet")},
        {{wired, active, "Id"}, S::text("Wired connection 1")},
        {{wired, active, "SpecificObject"}, S::text("/", 'o')},
    };
    services = std::make_unique<StandInServices>(
        bus.address(),
        std::vector<std::string>{"org.freedesktop.login1", "org.freedesktop.NetworkManager"},
        table);
    windows.activate({"Inbox — Mail", std::nullopt, static_cast<std::uint32_t>(::getpid()),
                      std::string("mail\0Mail\0", 10)});
    environment = bus.environment();
    environment["DISPLAY"] = xvfb().display;
    environment["XAUTHORITY"] = xvfb().authority;
    environment["XDG_DATA_HOME"] = (folder / "share").string();
    environment["XDG_DATA_DIRS"] = (folder / "none").string();
  }
  ~Session() {
    services.reset();
    std::filesystem::remove_all(folder);
  }
  static std::filesystem::path makeFolder() {
    std::string name = (std::filesystem::temp_directory_path() / "context-bench-XXXXXX").string();
    if (!::mkdtemp(name.data())) std::abort();
    return name;
  }

  std::filesystem::path folder;
  PrivateBus bus;
  Windows windows;
  std::unique_ptr<StandInServices> services;
  std::map<std::string, std::string> environment;
};

Session& session() {
  static Session made;
  return made;
}

// Generous limits: these measure what an answer costs, not where the default limit cuts.
constexpr auto kPatient = std::chrono::seconds(5);

const std::map<std::string, std::string> kNothing = {
    {"DISPLAY", ":4093"}, {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bus"}};

void BM_ActiveWindow_X11(benchmark::State& state) {
  const X11ActiveWindowSource source(session().environment, session().folder, kPatient);
  for (auto _ : state) {
    auto window = source.activeWindow();
    if (!window) state.SkipWithError("no active window");
    benchmark::DoNotOptimize(window);
  }
}
BENCHMARK(BM_ActiveWindow_X11)->Unit(benchmark::kMicrosecond);

void BM_ActiveWindow_X11_Kept(benchmark::State& state) {
  const X11ActiveWindowSource source(session().environment, session().folder, kPatient,
                                     std::make_shared<X11Connections>(1));
  for (auto _ : state) {
    auto window = source.activeWindow();
    if (!window) state.SkipWithError("no active window");
    benchmark::DoNotOptimize(window);
  }
}
BENCHMARK(BM_ActiveWindow_X11_Kept)->Unit(benchmark::kMicrosecond);

void BM_ActiveWindow_NoServer(benchmark::State& state) {
  const X11ActiveWindowSource source(kNothing, "/nonexistent");
  for (auto _ : state) benchmark::DoNotOptimize(source.activeWindow());
}
BENCHMARK(BM_ActiveWindow_NoServer)->Unit(benchmark::kMicrosecond);

void BM_ScreenLock_Logind(benchmark::State& state) {
  const LogindScreenLock source(session().environment, kPatient);
  for (auto _ : state) {
    auto locked = source.screenLocked();
    if (!locked) state.SkipWithError("no answer");
    benchmark::DoNotOptimize(locked);
  }
}
BENCHMARK(BM_ScreenLock_Logind)->Unit(benchmark::kMicrosecond);

void BM_ScreenLock_Logind_Kept(benchmark::State& state) {
  const LogindScreenLock source(session().environment, kPatient,
                                std::make_shared<SystemBusConnections>(1));
  for (auto _ : state) {
    auto locked = source.screenLocked();
    if (!locked) state.SkipWithError("no answer");
    benchmark::DoNotOptimize(locked);
  }
}
BENCHMARK(BM_ScreenLock_Logind_Kept)->Unit(benchmark::kMicrosecond);

void BM_ScreenLock_NoBus(benchmark::State& state) {
  const LogindScreenLock source(kNothing);
  for (auto _ : state) benchmark::DoNotOptimize(source.screenLocked());
}
BENCHMARK(BM_ScreenLock_NoBus)->Unit(benchmark::kMicrosecond);

void BM_Networks_NetworkManager(benchmark::State& state) {
  const NetworkManagerNetworks source(session().environment, kPatient);
  for (auto _ : state) {
    auto networks = source.activeNetworks();
    if (networks.size() != 2) state.SkipWithError("networks missing");
    benchmark::DoNotOptimize(networks);
  }
}
BENCHMARK(BM_Networks_NetworkManager)->Unit(benchmark::kMicrosecond);

void BM_Networks_NetworkManager_Kept(benchmark::State& state) {
  const NetworkManagerNetworks source(session().environment, kPatient,
                                      std::make_shared<SystemBusConnections>(1));
  for (auto _ : state) {
    auto networks = source.activeNetworks();
    if (networks.size() != 2) state.SkipWithError("networks missing");
    benchmark::DoNotOptimize(networks);
  }
}
BENCHMARK(BM_Networks_NetworkManager_Kept)->Unit(benchmark::kMicrosecond);

void BM_Networks_NoBus(benchmark::State& state) {
  const NetworkManagerNetworks source(kNothing);
  for (auto _ : state) benchmark::DoNotOptimize(source.activeNetworks());
}
BENCHMARK(BM_Networks_NoBus)->Unit(benchmark::kMicrosecond);

// The whole context of one click at the default limits (no desktop entries installed, so the app
// scan is empty). "answered" is the share of clicks that got every source's answer in time.
template <typename Click>
void clicks(benchmark::State& state, Click click) {
  BrowserCatalog catalog;
  catalog.browsers.push_back(CatalogBrowser{
      BrowserDefinition{.id = "mail", .name = "Mail", .appPath = "/nonexistent"}, {}, false});
  AppSettings settings;
  settings.useSourceWindow = true;
  double answered = 0;
  for (auto _ : state) {
    const LinuxContext::Click result = click(catalog, settings);
    if (result.sourceWindow && result.context.frontmostBrowser &&
        result.context.activeNetworks.size() == 2)
      ++answered;
    benchmark::DoNotOptimize(result);
  }
  state.counters["answered"] = answered / static_cast<double>(state.iterations());
}

// Cold: new connections and the desktop entries read, for every click.
void BM_LinuxContext_Click(benchmark::State& state) {
  clicks(state, [](const BrowserCatalog& catalog, const AppSettings& settings) {
    return LinuxContext::click(session().folder, session().environment, catalog, settings);
  });
}
BENCHMARK(BM_LinuxContext_Click)->Unit(benchmark::kMicrosecond);

// Kept: the service's gatherer, its connections warm, the installed apps given.
void BM_LinuxContext_Click_Kept(benchmark::State& state) {
  const LinuxContext::Gatherer gatherer(session().folder);
  clicks(state, [&gatherer](const BrowserCatalog& catalog, const AppSettings& settings) {
    return gatherer.click(session().environment, {}, catalog, settings);
  });
}
BENCHMARK(BM_LinuxContext_Click_Kept)->Unit(benchmark::kMicrosecond);

// With nothing to ask (no display, no bus) and a desktop's worth of installed applications
// (kEntries desktop entries of a typical size): what is left of a click's own work, cold (the
// entries read for every click) and kept (the installed apps given).
constexpr int kEntries = 200;

std::map<std::string, std::string> nothingButEntries() {
  const std::filesystem::path folder = session().folder / "entries";
  if (!std::filesystem::exists(folder)) {
    std::filesystem::create_directories(folder / "applications");
    for (int i = 0; i < kEntries; ++i) {
      std::string entry = "[Desktop Entry]\nType=Application\nName=App " + std::to_string(i) +
                          "\nGenericName=Application\nComment=Does things number " +
                          std::to_string(i) + "\n";
      for (const char* language : {"de", "fr", "es", "it", "ja", "pt_BR", "ru", "zh_CN"}) {
        entry += std::string("Name[") + language + "]=App " + std::to_string(i) + "\n";
        entry += std::string("Comment[") + language + "]=Does things\n";
      }
      entry += "Exec=/usr/bin/app" + std::to_string(i) +
               " %U\nIcon=app\nTerminal=false\nCategories=Utility;\n"
               "MimeType=text/plain;x-scheme-handler/app" +
               std::to_string(i) + ";\n";
      std::ofstream(folder / "applications" / ("app" + std::to_string(i) + ".desktop")) << entry;
    }
  }
  std::map<std::string, std::string> environment = kNothing;
  environment["XDG_DATA_HOME"] = folder.string();
  environment["XDG_DATA_DIRS"] = (session().folder / "none").string();
  return environment;
}

void BM_LinuxContext_Click_Nothing(benchmark::State& state) {
  const auto environment = nothingButEntries();
  const BrowserCatalog catalog;
  const AppSettings settings;
  for (auto _ : state) {
    benchmark::DoNotOptimize(LinuxContext::click(session().folder, environment, catalog, settings));
  }
}
BENCHMARK(BM_LinuxContext_Click_Nothing)->Unit(benchmark::kMicrosecond);

void BM_LinuxContext_Click_Kept_Nothing(benchmark::State& state) {
  const auto environment = nothingButEntries();
  const LinuxContext::Gatherer gatherer(session().folder);
  const std::set<std::string> installed =
      LinuxContext::installedApps(session().folder, environment);
  const BrowserCatalog catalog;
  const AppSettings settings;
  for (auto _ : state) {
    benchmark::DoNotOptimize(gatherer.click(environment, installed, catalog, settings));
  }
}
BENCHMARK(BM_LinuxContext_Click_Kept_Nothing)->Unit(benchmark::kMicrosecond);

// The app a link was clicked in, over the same desktop entries, for a client whose parent is this
// program: the finder made for every click from the entries (what the service did), or made once.
void BM_SourceApp_PerClick(benchmark::State& state) {
  const auto environment = nothingButEntries();
  const auto entries =
      DesktopEntries::load(DesktopEntries::applicationDirectories(session().folder, environment));
  for (auto _ : state) {
    std::vector<DesktopEntry> copy = entries;
    const auto finder = AncestrySourceAppFinder::forEntries(std::move(copy), environment, 0);
    benchmark::DoNotOptimize(finder.sourceAppOf(::getpid()));
  }
}
BENCHMARK(BM_SourceApp_PerClick)->Unit(benchmark::kMicrosecond);

void BM_SourceApp_Kept(benchmark::State& state) {
  const auto environment = nothingButEntries();
  const auto finder = AncestrySourceAppFinder::forEntries(
      DesktopEntries::load(DesktopEntries::applicationDirectories(session().folder, environment)),
      environment, 0);
  for (auto _ : state) benchmark::DoNotOptimize(finder.sourceAppOf(::getpid()));
}
BENCHMARK(BM_SourceApp_Kept)->Unit(benchmark::kMicrosecond);

}  // namespace
