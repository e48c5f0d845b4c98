// What each source of a click's context costs the click: the active window of an X server
// (Xvfb), logind's screen lock and NetworkManager's networks on a private bus with stand-ins, and
// each of them when there is nothing to ask (no display, no bus), then the whole context.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include "LinuxContext.h"
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

void BM_Networks_NoBus(benchmark::State& state) {
  const NetworkManagerNetworks source(kNothing);
  for (auto _ : state) benchmark::DoNotOptimize(source.activeNetworks());
}
BENCHMARK(BM_Networks_NoBus)->Unit(benchmark::kMicrosecond);

// The whole context of one click at the default limits (no desktop entries installed, so the app
// scan is empty). "answered" is the share of clicks that got every source's answer in time.
void BM_LinuxContext_Click(benchmark::State& state) {
  BrowserCatalog catalog;
  catalog.browsers.push_back(CatalogBrowser{
      BrowserDefinition{.id = "mail", .name = "Mail", .appPath = "/nonexistent"}, {}, false});
  AppSettings settings;
  settings.useSourceWindow = true;
  double answered = 0;
  for (auto _ : state) {
    const auto click =
        LinuxContext::click(session().folder, session().environment, catalog, settings);
    if (click.sourceWindow && click.context.frontmostBrowser &&
        click.context.activeNetworks.size() == 2)
      ++answered;
    benchmark::DoNotOptimize(click);
  }
  state.counters["answered"] = answered / static_cast<double>(state.iterations());
}
BENCHMARK(BM_LinuxContext_Click)->Unit(benchmark::kMicrosecond);

}  // namespace
