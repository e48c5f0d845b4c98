// The context of a click read for real: an X server (Xvfb) with windows made here, announced the
// way a window manager announces them; a private D-Bus system bus with stand-ins for logind and
// NetworkManager; and `linkferry open` as a process on that display.
#include "LinuxContext.h"

#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "FrontmostBrowser.h"
#include "RouterService.h"
#include "fixtures/BrowserProfiles.h"
#include "fixtures/LinuxSession.h"
#include "fixtures/StoredLog.h"
#include "foundation/Files.h"
#include "foundation/Json.h"
#include "foundation/Process.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::PrivateBus;
using testing::StandInServices;
using testing::TemporaryDirectory;
using testing::Windows;
using testing::xvfb;

// Limits generous enough for a loaded machine under the sanitizers; what is tested is the answer.
constexpr auto kPatient = 5s;

std::optional<ActiveWindow> activeWindowOn(std::map<std::string, std::string> environment,
                                           std::chrono::steady_clock::duration limit = kPatient) {
  return X11ActiveWindowSource(std::move(environment), "/nonexistent", limit).activeWindow();
}

TEST(ActiveWindow, FollowsTheActiveWindowWithItsTitlePidAndClass) {
  const std::string display = xvfb().display;
  ASSERT_FALSE(display.empty()) << "Xvfb did not start";
  Windows windows(xvfb());

  windows.activate({"Projekt Ärger — 日本語 ✓", "ignored", 4242, std::string("mail\0Mail\0", 10)});
  EXPECT_EQ(activeWindowOn({{"DISPLAY", display}, {"XAUTHORITY", xvfb().authority}}),
            (ActiveWindow{"Projekt Ärger — 日本語 ✓", 4242, {"mail", "Mail"}}));

  // The next active window replaces it; without _NET_WM_NAME its Latin-1 WM_NAME is the title,
  // and the screen suffix of DISPLAY is understood.
  windows.activate({std::nullopt, "Caf\xE9", std::nullopt, ""});
  TemporaryDirectory home;  // the cookie where XAUTHORITY is unset: $HOME/.Xauthority
  fs::copy_file(xvfb().authority, home.path() / ".Xauthority");
  EXPECT_EQ(activeWindowOn({{"DISPLAY", display + ".0"}, {"HOME", home.path().string()}}),
            (ActiveWindow{"Café", std::nullopt, {}}));
}

TEST(ActiveWindow, IsUnknownWithoutAnAnsweringX11Display) {
  const std::string display = xvfb().display;
  ASSERT_FALSE(display.empty()) << "Xvfb did not start";
  Windows windows(xvfb());
  windows.activate({"Inbox", std::nullopt, std::nullopt, ""});

  EXPECT_EQ(activeWindowOn({}), std::nullopt);
  EXPECT_EQ(activeWindowOn({{"DISPLAY", ":4093"}}), std::nullopt);  // no server there
  EXPECT_EQ(activeWindowOn({{"DISPLAY", "remote.example:0"}}), std::nullopt);
  EXPECT_EQ(activeWindowOn({{"DISPLAY", display}, {"HOME", "/nonexistent"}}),
            std::nullopt);  // no cookie
  const std::map<std::string, std::string> x11 = {{"DISPLAY", display},
                                                  {"XAUTHORITY", xvfb().authority}};
  auto onWayland = [&](const char* name, const char* value) {
    auto environment = x11;
    environment[name] = value;
    return activeWindowOn(environment);
  };
  EXPECT_NE(activeWindowOn(x11), std::nullopt);
  EXPECT_EQ(onWayland("WAYLAND_DISPLAY", "wayland-0"), std::nullopt);
  EXPECT_EQ(onWayland("XDG_SESSION_TYPE", "wayland"), std::nullopt);

  // A display that accepts the connection and then never answers: the limit ends the wait.
  const int number = 4000 + ::getpid() % 90;
  const int listening = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
  std::memcpy(address.sun_path + 1, path.data(), path.size());
  ASSERT_EQ(::bind(listening, reinterpret_cast<sockaddr*>(&address),
                   static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + path.size())),
            0);
  ASSERT_EQ(::listen(listening, 4), 0);
  EXPECT_EQ(activeWindowOn({{"DISPLAY", ":" + std::to_string(number)}}, 100ms), std::nullopt);
  ::close(listening);
}

const std::string kLogin = "org.freedesktop.login1";
const std::string kSession = "org.freedesktop.login1.Session";
const std::string kNM = "org.freedesktop.NetworkManager";
const std::string kActive = "org.freedesktop.NetworkManager.Connection.Active";

using S = StandInServices;

// An active connection of NetworkManager as its stand-in answers for it.
void activeConnection(std::map<S::Key, S::Writer>& table, const std::string& path,
                      std::uint32_t state, const std::string& type, const std::string& id,
                      const std::string& accessPoint) {
  table[{path, kActive, "State"}] = S::number(state);
  table[{path, kActive, "Type"}] = S::text(type);
  table[{path, kActive, "Id"}] = S::text(id);
  table[{path, kActive, "SpecificObject"}] = S::text(accessPoint, 'o');
}

TEST(SystemBusSources, ReadTheSessionLockAndTheActivatedNetworks) {
  TemporaryDirectory folder;
  PrivateBus bus(folder.path());
  const std::string wifi = "/org/freedesktop/NetworkManager/ActiveConnection/1";
  const std::string wired = "/org/freedesktop/NetworkManager/ActiveConnection/2";
  const std::string loopback = "/org/freedesktop/NetworkManager/ActiveConnection/3";
  const std::string starting = "/org/freedesktop/NetworkManager/ActiveConnection/4";
  const std::string binaryWifi = "/org/freedesktop/NetworkManager/ActiveConnection/5";
  std::map<S::Key, S::Writer> table = {
      // Session "2" is named "_32" on the bus; "auto" is the caller's own session.
      {{"/org/freedesktop/login1/session/_32", kSession, "LockedHint"}, S::boolean(true)},
      {{"/org/freedesktop/login1/session/auto", kSession, "LockedHint"}, S::boolean(false)},
      {{"/org/freedesktop/NetworkManager", kNM, "ActiveConnections"},
       S::paths({wifi, wired, loopback, starting, binaryWifi})},
      {{"/org/freedesktop/NetworkManager/AccessPoint/7", kNM + ".AccessPoint", "Ssid"},
       S::bytes("Café Ünïcode")},
      {{"/org/freedesktop/NetworkManager/AccessPoint/8", kNM + ".AccessPoint", "Ssid"},
       S::bytes("\xff\xfe")},
  };
  activeConnection(table, wifi, 2, "802-11-wireless", "cafe-profile",
                   "/org/freedesktop/NetworkManager/AccessPoint/7");
  activeConnection(table, wired, 2, "802-3-ethernet", "Wired connection 1", "/");
  activeConnection(table, loopback, 2, "loopback", "lo", "/");
  activeConnection(table, starting, 1, "vpn", "Office VPN", "/");
  activeConnection(table, binaryWifi, 2, "802-11-wireless", "Hotel",
                   "/org/freedesktop/NetworkManager/AccessPoint/8");
  StandInServices services(bus.address(), {kLogin, kNM}, table);

  auto environment = bus.environment();
  EXPECT_EQ(LogindScreenLock(environment, kPatient).screenLocked(), false);
  environment["XDG_SESSION_ID"] = "2";
  EXPECT_EQ(LogindScreenLock(environment, kPatient).screenLocked(), true);
  environment["XDG_SESSION_ID"] = "9";  // a session logind does not know
  EXPECT_EQ(LogindScreenLock(environment, kPatient).screenLocked(), std::nullopt);

  EXPECT_EQ(NetworkManagerNetworks(environment, kPatient).activeNetworks(),
            (std::set<std::string>{"Café Ünïcode", "Hotel", "Wired connection 1"}));
}

TEST(SystemBusSources, AreUnknownWithoutTheServicesOrWhenTheyDoNotAnswer) {
  TemporaryDirectory folder;
  PrivateBus bus(folder.path());
  // No bus at all.
  const std::map<std::string, std::string> nowhere = {
      {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bus"}};
  EXPECT_EQ(LogindScreenLock(nowhere, kPatient).screenLocked(), std::nullopt);
  EXPECT_TRUE(NetworkManagerNetworks(nowhere, kPatient).activeNetworks().empty());
  // A bus without the services.
  EXPECT_EQ(LogindScreenLock(bus.environment(), kPatient).screenLocked(), std::nullopt);
  EXPECT_TRUE(NetworkManagerNetworks(bus.environment(), kPatient).activeNetworks().empty());
  // Services that hold their names and never answer: the limit ends the wait.
  StandInServices silent(bus.address(), {kLogin, kNM}, {}, true);
  EXPECT_EQ(LogindScreenLock(bus.environment(), 100ms).screenLocked(), std::nullopt);
  EXPECT_TRUE(NetworkManagerNetworks(bus.environment(), 100ms).activeNetworks().empty());
}

struct FixedLock final : ScreenLockSource {
  std::optional<bool> screenLocked() const override { return true; }
};
struct FixedNetworks final : NetworkSource {
  std::set<std::string> activeNetworks() const override { return {"Home"}; }
};

CatalogBrowser catalogBrowser(const std::string& id, const std::string& program) {
  return CatalogBrowser{BrowserDefinition{.id = id, .name = id, .appPath = program}, {}, false};
}

TEST(LinuxContextClick, NamesTheFrontmostBrowserByProgramOrWindowClassAndTheSourceWindow) {
  const std::string display = xvfb().display;
  ASSERT_FALSE(display.empty()) << "Xvfb did not start";
  Windows windows(xvfb());
  TemporaryDirectory home;
  const std::map<std::string, std::string> environment = {{"DISPLAY", display},
                                                          {"XAUTHORITY", xvfb().authority}};
  // This test program plays a browser run from its own program; another is known by its class.
  const BrowserCatalog catalog{{catalogBrowser("self-browser", fs::read_symlink("/proc/self/exe")),
                                catalogBrowser("google-chrome", "/nonexistent/chrome")}};
  const LinuxContext::Sources sources{
      std::make_shared<X11ActiveWindowSource>(environment, home.path(), kPatient),
      std::make_shared<FixedLock>(), std::make_shared<FixedNetworks>(),
      std::make_shared<ProcProcessTable>()};
  AppSettings settings;
  settings.useSourceWindow = true;
  auto click = [&] {
    return LinuxContext::click(home.path(), environment, catalog, settings, sources);
  };

  windows.activate({"Docs — self", std::nullopt, static_cast<std::uint32_t>(::getpid()), ""});
  auto result = click();
  EXPECT_EQ(result.context.frontmostBrowser, "self-browser");
  EXPECT_EQ(result.sourceWindow, "Docs — self");
  EXPECT_TRUE(result.context.screenLocked);
  EXPECT_EQ(result.context.activeNetworks, std::set<std::string>{"Home"});

  windows.activate(
      {"New Tab", std::nullopt, std::nullopt, std::string("google-chrome\0Google-chrome\0", 28)});
  EXPECT_EQ(click().context.frontmostBrowser, "google-chrome");

  // A mail program in front: no browser; the title is collected only when the user wants it.
  windows.activate({"Inbox", std::nullopt, 1, std::string("mail\0Mail\0", 10)});
  result = click();
  EXPECT_EQ(result.context.frontmostBrowser, std::nullopt);
  EXPECT_EQ(result.sourceWindow, "Inbox");
  settings.useSourceWindow = false;
  EXPECT_EQ(click().sourceWindow, std::nullopt);
}

// The profile the frontmost window shows, read from a real process's command line and from the
// window's title, against profile files shaped like a real Firefox ESR's and Chromium's.
TEST(FrontmostBrowserProfile, ComesFromTheCommandLineTheTitleOrFirefoxsDefault) {
  TemporaryDirectory home;
  BrowserCatalog catalog = fixtures::realShapedCatalog(home.path());
  ASSERT_EQ(catalog.browsers.size(), 2u);
  const ProcProcessTable processes;
  // A process whose command line carries the flags, as a browser started so would.
  auto started = [](std::vector<std::string> flags) {
    std::vector<std::string> arguments = {
        "python3", "-c", "import sys, time; print('ready', flush=True); time.sleep(60)"};
    arguments.insert(arguments.end(), flags.begin(), flags.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    int ready[2];
    EXPECT_EQ(::pipe(ready), 0);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, ready[1], STDOUT_FILENO);
    ::posix_spawn_file_actions_addclose(&actions, ready[0]);
    pid_t pid = 0;
    EXPECT_EQ(::posix_spawn(&pid, "/usr/bin/python3", &actions, nullptr, argv.data(), environ), 0);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(ready[1]);
    // Its command line can be read once the program runs its own code; the whole line is read,
    // so that it never writes into a closed pipe.
    std::string line;
    for (char c = 0; line.empty() || line.back() != '\n';) {
      if (::read(ready[0], &c, 1) != 1) break;
      line += c;
    }
    EXPECT_EQ(line, "ready\n");
    ::close(ready[0]);
    return static_cast<int>(pid);
  };
  const std::string work = (home.path() / "firefox/work").string();
  const int withFolder = started({"--no-remote", "-profile", work});
  const int withName = started({"-P", "personal"});
  const int plain = started({"https://a.test/"});
  const int chromium = started({"--profile-directory=Profile 1"});
  auto profile = [&](const std::string& browser, std::optional<int> pid,
                     std::optional<std::string> title = std::nullopt) {
    return FrontmostBrowser::profileOf({title, pid, {}}, browser, catalog, processes);
  };
  EXPECT_EQ(profile("firefox-esr", withFolder), "work");
  EXPECT_EQ(profile("firefox-esr", withName), "personal");
  // No profile named: the installation's default in profiles.ini.
  EXPECT_EQ(profile("firefox-esr", plain), "default-esr");
  EXPECT_EQ(profile("firefox-esr", std::nullopt), std::nullopt);

  EXPECT_EQ(profile("chromium", chromium), "Profile 1");
  // The title wins over the command line: one process shows every profile's windows.
  EXPECT_EQ(profile("chromium", chromium, "Inbox - Personal - Chromium"), "Default");
  EXPECT_EQ(profile("chromium", plain, "Work - Chromium"), std::nullopt);  // the page's title
  EXPECT_EQ(profile("chromium", std::nullopt, "Plans - Chromium - Work"), "Profile 1");
  for (int pid : {withFolder, withName, plain, chromium}) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
}

// A data folder where a rule on the source window's title (or on the source app "tester") opens
// links in "beta browser" and every other link of x.example in "alpha browser", and the environment
// of a user of it (no display yet, no system bus).
std::map<std::string, std::string> windowRulesIn(const TemporaryDirectory& folder) {
  JsonValue browsers = JsonValue::array();
  for (const std::string name : {"alpha", "beta"}) {
    browsers.push_back({{"id", name},
                        {"name", name + " browser"},
                        {"family", "chromium"},
                        {"appPath", "/bin/true"}});
  }
  folder.write("data/browsers.json", browsers.dump());
  folder.write("data/settings.json", R"({"useSourceWindow": true})");
  folder.write("data/rules.json", R"({"version": 1, "rules": [
      {"name": "From the tester", "match": {"sourceApp": "tester"}, "action": {"open": {"browser": "beta"}}},
      {"name": "Work mail", "match": {"sourceWindow": "ärger.*mail"}, "action": {"open": {"browser": "beta"}}},
      {"name": "Else", "match": {"host": "x.example"}, "action": {"open": {"browser": "alpha"}}}]})");
  return {{"HOME", (folder.path() / "home").string()},
          {"LINKFERRY_HOME", (folder.path() / "data").string()},
          {"XDG_DATA_HOME", (folder.path() / "share").string()},
          {"XDG_DATA_DIRS", (folder.path() / "none").string()},
          {"XDG_CONFIG_HOME", (folder.path() / "home/.config").string()},
          {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bus"},
          {"PATH", "/usr/bin:/bin"}};
}

// `linkferry open` on the display: a rule on the source window's title decides because of the
// title of the window in front.
TEST(LinuxContextClick, ARuleOnTheSourceWindowFollowsTheActiveWindowThroughLinkferryOpen) {
  const std::string display = xvfb().display;
  ASSERT_FALSE(display.empty()) << "Xvfb did not start";
  Windows windows(xvfb());
  TemporaryDirectory folder;
  Process::Options options;
  options.captureOutput = true;
  options.environment = windowRulesIn(folder);
  options.environment->emplace("DISPLAY", display);
  options.environment->emplace("XAUTHORITY", xvfb().authority);
  auto open = [&] {
    const auto result =
        Process::run(testing::linkferryProgram().string(),
                     {"open", "--dry-run", "--json", "https://x.example/report"}, options);
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    return JsonValue::parse(result.standardOutput).at(0);
  };

  windows.activate({"Projekt ÄRGER — Mail", std::nullopt, std::nullopt, ""});
  const JsonValue fromMail = open();
  EXPECT_EQ(fromMail["target"], "beta browser") << fromMail.dump();
  EXPECT_EQ(fromMail["reason"], "rule “Work mail”") << fromMail.dump();

  windows.activate({"Holiday photos", std::nullopt, std::nullopt, ""});
  const JsonValue fromPhotos = open();
  EXPECT_EQ(fromPhotos["target"], "alpha browser") << fromPhotos.dump();

  const JsonValue log = testing::storedLog(folder.path() / "data/log.json");
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0]["sourceWindow"], "Projekt ÄRGER — Mail");
}

// The service over windowRulesIn(folder), with Spotify's desktop entry installed (so its links
// open in its app) and one for this test program as the app "tester": clicks are answered as
// `linkferry open` sends them, in dry run.
class ServiceClicks {
 public:
  explicit ServiceClicks(const TemporaryDirectory& folder) {
    folder.write("share/applications/spotify.desktop",
                 "[Desktop Entry]\nType=Application\nName=Spotify\nExec=spotify %U\n"
                 "MimeType=x-scheme-handler/spotify;\n");
    folder.write("share/applications/tester.desktop",
                 "[Desktop Entry]\nType=Application\nName=Tester\nExec=" +
                     fs::read_symlink("/proc/self/exe").string() + "\n");
    RouterService::Options options;
    options.environment = windowRulesIn(folder);
    options.home = folder.path() / "home";
    options.readSignals = false;
    m_service = std::make_unique<RouterService>(std::move(options));
  }

  // Where a link clicked on `display` by the process `peerPid` opens: the outcome's target, or its
  // error.
  std::string targetOf(const testing::XvfbServer& display,
                       const std::string& link = "https://x.example/report", int peerPid = 0) {
    const JsonValue request = {
        {"request", "click"},
        {"url", link},
        {"dryRun", true},
        {"environment", {{"DISPLAY", display.display}, {"XAUTHORITY", display.authority}}}};
    const JsonValue answer = m_service->answer(request.dump(), peerPid);
    const JsonValue& outcome = answer.value("outcome", JsonValue::object());
    return outcome.value("target", answer.dump());
  }

 private:
  std::unique_ptr<RouterService> m_service;
};

std::size_t openDescriptors() {
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

TEST(ServiceClickContext, EveryClickReadsTheWindowInFrontOnItsOwnDisplay) {
  ASSERT_FALSE(xvfb().display.empty()) << "Xvfb did not start";
  TemporaryDirectory folder;
  testing::RestartableXvfb other(folder.path());
  ASSERT_FALSE(other.server().display.empty()) << "a second Xvfb did not start";
  ServiceClicks service(folder);
  Windows onFirst(xvfb());
  Windows onOther(other.server());

  // One display, clicks one after another: each follows the window in front at its time.
  onFirst.activate({"Projekt ÄRGER — Mail", std::nullopt, std::nullopt, ""});
  EXPECT_EQ(service.targetOf(xvfb()), "beta browser");
  onFirst.activate({"Holiday photos", std::nullopt, std::nullopt, ""});
  EXPECT_EQ(service.targetOf(xvfb()), "alpha browser");
  // A click from another display reads that display, and the next from the first, the first.
  onOther.activate({"ärger in the mail", std::nullopt, std::nullopt, ""});
  EXPECT_EQ(service.targetOf(other.server()), "beta browser");
  EXPECT_EQ(service.targetOf(xvfb()), "alpha browser");
  // The installed app comes from the desktop entries the service holds.
  EXPECT_EQ(service.targetOf(xvfb(), "https://open.spotify.com/album/xyz"),
            "spotify (spotify:album:xyz)");

  // However many clicks, no connection is left behind.
  const std::size_t descriptors = openDescriptors();
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(service.targetOf(i % 2 ? other.server() : xvfb()),
              i % 2 ? "beta browser" : "alpha browser");
  }
  EXPECT_EQ(openDescriptors(), descriptors);

  // Clicks answered at once, as the service's workers answer them, each see the window.
  std::vector<std::thread> clickers;
  std::atomic<int> right = 0;
  for (int thread = 0; thread < 4; ++thread) {
    clickers.emplace_back([&, thread] {
      for (int i = 0; i < 10; ++i) {
        const bool onOtherDisplay = (thread + i) % 2 == 1;
        if (service.targetOf(onOtherDisplay ? other.server() : xvfb()) ==
            (onOtherDisplay ? "beta browser" : "alpha browser")) {
          ++right;
        }
      }
    });
  }
  for (std::thread& clicker : clickers) clicker.join();
  EXPECT_EQ(right, 40);
}

TEST(ServiceClickContext, ReadsTheWindowAgainFromTheFirstClickAfterTheXServerRestarts) {
  TemporaryDirectory folder;
  testing::RestartableXvfb display(folder.path());
  ASSERT_FALSE(display.server().display.empty()) << "Xvfb did not start";
  ServiceClicks service(folder);
  {
    Windows windows(display.server());
    windows.activate({"ärger mail", std::nullopt, std::nullopt, ""});
    EXPECT_EQ(service.targetOf(display.server()), "beta browser");
  }
  // No server: no title, so the other rule.
  display.stop();
  EXPECT_EQ(service.targetOf(display.server()), "alpha browser");

  // A new server on the same display, with the old cookie and then with a new one, while the
  // service may still hold a connection to the old.
  for (const bool newCookie : {false, true}) {
    SCOPED_TRACE(newCookie ? "new cookie" : "same cookie");
    ASSERT_TRUE(display.restart(newCookie));
    Windows windows(display.server());
    windows.activate({"ärger mail again", std::nullopt, std::nullopt, ""});
    EXPECT_EQ(service.targetOf(display.server()), "beta browser");
    windows.activate({"Holiday photos", std::nullopt, std::nullopt, ""});
    EXPECT_EQ(service.targetOf(display.server()), "alpha browser");
  }
}

TEST(LinuxContextGatherer, ADisplayThatFallsSilentCostsOnlyTheClicksWhileItIsSilent) {
  TemporaryDirectory folder;
  testing::RestartableXvfb display(folder.path());
  ASSERT_FALSE(display.server().display.empty()) << "Xvfb did not start";
  Windows windows(display.server());
  windows.activate({"Inbox", std::nullopt, std::nullopt, ""});
  // The limit is what ends a silent display's clicks, so any limit shows that; a generous one
  // keeps a working display inside it on a loaded machine under the sanitizers.
  const LinuxContext::Gatherer gatherer(folder.path(), kPatient, kPatient);
  const std::map<std::string, std::string> environment = {
      {"DISPLAY", display.server().display},
      {"XAUTHORITY", display.server().authority},
      {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bus"}};
  AppSettings settings;
  settings.useSourceWindow = true;
  auto title = [&] {
    return gatherer.click(environment, {}, BrowserCatalog{}, settings).sourceWindow;
  };

  EXPECT_EQ(title(), "Inbox");
  // The server stops answering while the gatherer keeps a connection to it: the limit ends each
  // click's wait.
  display.pause(true);
  EXPECT_EQ(title(), std::nullopt);
  EXPECT_EQ(title(), std::nullopt);
  // Once it answers again, so does the next click, on a connection that waits for no old answer.
  display.pause(false);
  EXPECT_EQ(title(), "Inbox");
  EXPECT_EQ(title(), "Inbox");
}

TEST(LinuxContextGatherer, ReadsTheLockAndNetworksAgainOnceTheBusRestarts) {
  TemporaryDirectory folder;
  std::map<S::Key, S::Writer> table = {
      {{"/org/freedesktop/login1/session/auto", kSession, "LockedHint"}, S::boolean(true)},
      {{"/org/freedesktop/NetworkManager", kNM, "ActiveConnections"},
       S::paths({"/org/freedesktop/NetworkManager/ActiveConnection/1"})}};
  activeConnection(table, "/org/freedesktop/NetworkManager/ActiveConnection/1", 2, "802-3-ethernet",
                   "Home", "/");
  auto bus = std::make_unique<PrivateBus>(folder.path());
  auto services = std::make_unique<StandInServices>(bus->address(),
                                                    std::vector<std::string>{kLogin, kNM}, table);
  const LinuxContext::Gatherer gatherer(folder.path(), kPatient, kPatient);
  const auto environment = bus->environment();
  auto click = [&] {
    return gatherer.click(environment, {"spotify"}, BrowserCatalog{}, AppSettings{}).context;
  };
  auto restart = [&] {
    services.reset();
    bus.reset();
    fs::remove(folder.path() / "bus");
    bus = std::make_unique<PrivateBus>(folder.path());
    services = std::make_unique<StandInServices>(bus->address(),
                                                 std::vector<std::string>{kLogin, kNM}, table);
  };

  RoutingContext context = click();
  EXPECT_TRUE(context.screenLocked);
  EXPECT_EQ(context.activeNetworks, std::set<std::string>{"Home"});
  EXPECT_EQ(context.installedApps, std::set<std::string>{"spotify"});
  EXPECT_EQ(click().activeNetworks, std::set<std::string>{"Home"});

  // The bus restarts between two clicks: the first click after it has everything.
  restart();
  context = click();
  EXPECT_TRUE(context.screenLocked);
  EXPECT_EQ(context.activeNetworks, std::set<std::string>{"Home"});

  // The bus gone: unknown, and then back.
  services.reset();
  bus.reset();
  context = click();
  EXPECT_FALSE(context.screenLocked);
  EXPECT_TRUE(context.activeNetworks.empty());
  restart();
  EXPECT_EQ(click().activeNetworks, std::set<std::string>{"Home"});
}

}  // namespace
}  // namespace linkferry
