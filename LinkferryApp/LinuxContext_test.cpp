// The context of a click read for real: an X server (Xvfb) with windows made here, announced the
// way a window manager announces them; a private D-Bus system bus with stand-ins for logind and
// NetworkManager; and `linkferry open` as a process on that display.
#include "LinuxContext.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <future>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "foundation/Files.h"
#include "foundation/Json.h"
#include "foundation/Process.h"
#include "support/TestSupport.h"

extern char** environ;

namespace linkferry {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::TemporaryDirectory;

// Limits generous enough for a loaded machine under the sanitizers; what is tested is the answer.
constexpr auto kPatient = 5s;

// A background program started without a shell, ended with SIGTERM on destruction.
class Child {
 public:
  Child(const std::vector<std::string>& arguments, const posix_spawn_file_actions_t* actions) {
    std::vector<std::string> copy = arguments;
    std::vector<char*> argv;
    for (auto& argument : copy) argv.push_back(argument.data());
    argv.push_back(nullptr);
    if (posix_spawnp(&m_pid, argv[0], actions, nullptr, argv.data(), environ) != 0) m_pid = 0;
  }
  ~Child() {
    if (m_pid == 0) return;
    ::kill(m_pid, SIGTERM);
    ::waitpid(m_pid, nullptr, 0);
  }
  bool started() const { return m_pid != 0; }

 private:
  pid_t m_pid = 0;
};

// One Xvfb for the whole test program, on the first free display number it finds itself.
const std::string& xvfbDisplay() {
  static const auto* server = [] {
    struct Server {
      std::unique_ptr<Child> child;
      std::string display;
    };
    auto* made = new Server;
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) return made;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], 3);
    made->child = std::make_unique<Child>(
        std::vector<std::string>{"Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-screen", "0",
                                 "320x200x24"},
        &actions);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    std::string number;
    char c = 0;
    while (::read(pipe[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(pipe[0]);
    if (!number.empty()) made->display = ":" + number;
    // Ended with the program.
    static std::unique_ptr<Server> owner(made);
    return made;
  }();
  return server->display;
}

// A client of the X server that makes windows and announces one of them as active, as a window
// manager would (bare Xvfb runs none).
class Windows {
 public:
  explicit Windows(const std::string& display) : m_connection(xcb_connect(display.c_str(), nullptr)) {
    m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
  }
  ~Windows() { xcb_disconnect(m_connection); }

  struct Spec {
    std::optional<std::string> title;   // _NET_WM_NAME, UTF-8
    std::optional<std::string> latin1;  // WM_NAME as STRING
    std::optional<std::uint32_t> pid;
    std::string windowClass;            // WM_CLASS bytes, "instance\0class\0"
  };

  // Makes a window and makes it the active one.
  void activate(const Spec& spec) {
    const xcb_window_t window = xcb_generate_id(m_connection);
    xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, window, m_root, 0, 0, 10, 10, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    if (spec.title) set(window, atom("_NET_WM_NAME"), atom("UTF8_STRING"), 8, *spec.title);
    if (spec.latin1) set(window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, *spec.latin1);
    if (spec.pid) {
      set(window, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32,
          std::string(reinterpret_cast<const char*>(&*spec.pid), 4));
    }
    if (!spec.windowClass.empty()) set(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, spec.windowClass);
    set(m_root, atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 32,
        std::string(reinterpret_cast<const char*>(&window), 4));
    // A round trip, so the server has done all of the above before anyone reads it.
    std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
  }

 private:
  xcb_atom_t atom(const std::string& name) {
    auto* reply = xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, static_cast<std::uint16_t>(name.size()), name.c_str()),
        nullptr);
    const xcb_atom_t atom = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
  }
  void set(xcb_window_t window, xcb_atom_t property, xcb_atom_t type, std::uint8_t format,
           const std::string& bytes) {
    xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window, property, type, format,
                        static_cast<std::uint32_t>(bytes.size() / (format / 8)), bytes.data());
  }

  xcb_connection_t* m_connection;
  xcb_window_t m_root = 0;
};

std::optional<ActiveWindow> activeWindowOn(std::map<std::string, std::string> environment,
                                           std::chrono::steady_clock::duration limit = kPatient) {
  return X11ActiveWindowSource(std::move(environment), "/nonexistent", limit).activeWindow();
}

TEST(ActiveWindow, FollowsTheActiveWindowWithItsTitlePidAndClass) {
  const std::string display = xvfbDisplay();
  ASSERT_FALSE(display.empty()) << "Xvfb did not start";
  Windows windows(display);

  windows.activate({"Projekt Ärger — 日本語 ✓", "ignored", 4242, std::string("mail\0Mail\0", 10)});
  EXPECT_EQ(activeWindowOn({{"DISPLAY", display}}),
            (ActiveWindow{"Projekt Ärger — 日本語 ✓", 4242, {"mail", "Mail"}}));

  // The next active window replaces it; without _NET_WM_NAME its Latin-1 WM_NAME is the title,
  // and the screen suffix of DISPLAY is understood.
  windows.activate({std::nullopt, "Caf\xE9", std::nullopt, ""});
  EXPECT_EQ(activeWindowOn({{"DISPLAY", display + ".0"}}), (ActiveWindow{"Café", std::nullopt, {}}));
}

TEST(ActiveWindow, IsUnknownWithoutAnAnsweringX11Display) {
  const std::string display = xvfbDisplay();
  ASSERT_FALSE(display.empty()) << "Xvfb did not start";
  Windows windows(display);
  windows.activate({"Inbox", std::nullopt, std::nullopt, ""});

  EXPECT_EQ(activeWindowOn({}), std::nullopt);
  EXPECT_EQ(activeWindowOn({{"DISPLAY", ":4093"}}), std::nullopt);  // no server there
  EXPECT_EQ(activeWindowOn({{"DISPLAY", "remote.example:0"}}), std::nullopt);
  EXPECT_EQ(activeWindowOn({{"DISPLAY", display}, {"WAYLAND_DISPLAY", "wayland-0"}}), std::nullopt);
  EXPECT_EQ(activeWindowOn({{"DISPLAY", display}, {"XDG_SESSION_TYPE", "wayland"}}), std::nullopt);

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

// Answers property reads of the system bus from a table, as logind and NetworkManager would; or,
// when silent, never answers at all.
class StandInServices {
 public:
  using Writer = std::function<void(sd_bus_message*)>;
  using Key = std::tuple<std::string, std::string, std::string>;  // path, interface, property

  StandInServices(const std::string& address, std::vector<std::string> names,
                  std::map<Key, Writer> properties, bool silent = false)
      : m_properties(std::move(properties)), m_silent(silent) {
    std::promise<void> ready;
    auto started = ready.get_future();
    m_thread = std::thread([this, address, names, &ready] {
      sd_bus* bus = nullptr;
      sd_bus_new(&bus);
      sd_bus_set_address(bus, address.c_str());
      sd_bus_set_bus_client(bus, 1);
      sd_bus_start(bus);
      for (const auto& name : names) sd_bus_request_name(bus, name.c_str(), 0);
      sd_bus_add_fallback(bus, nullptr, "/", &StandInServices::answer, this);
      ready.set_value();
      while (!m_stop) {
        if (sd_bus_process(bus, nullptr) > 0) continue;
        sd_bus_wait(bus, 20000);
      }
      sd_bus_flush_close_unref(bus);
    });
    started.wait();
  }
  ~StandInServices() {
    m_stop = true;
    m_thread.join();
  }

  static Writer boolean(bool value) {
    return [value](sd_bus_message* m) { sd_bus_message_append(m, "v", "b", value ? 1 : 0); };
  }
  static Writer number(std::uint32_t value) {
    return [value](sd_bus_message* m) { sd_bus_message_append(m, "v", "u", value); };
  }
  static Writer text(std::string value, char type = 's') {
    return [value, type](sd_bus_message* m) {
      const char signature[] = {type, '\0'};
      sd_bus_message_open_container(m, 'v', signature);
      sd_bus_message_append_basic(m, type, value.c_str());
      sd_bus_message_close_container(m);
    };
  }
  static Writer paths(std::vector<std::string> values) {
    return [values](sd_bus_message* m) {
      sd_bus_message_open_container(m, 'v', "ao");
      sd_bus_message_open_container(m, 'a', "o");
      for (const auto& value : values) sd_bus_message_append_basic(m, 'o', value.c_str());
      sd_bus_message_close_container(m);
      sd_bus_message_close_container(m);
    };
  }
  static Writer bytes(std::string value) {
    return [value](sd_bus_message* m) {
      sd_bus_message_open_container(m, 'v', "ay");
      sd_bus_message_append_array(m, 'y', value.data(), value.size());
      sd_bus_message_close_container(m);
    };
  }

 private:
  static int answer(sd_bus_message* call, void* userdata, sd_bus_error*) {
    auto* self = static_cast<StandInServices*>(userdata);
    if (!sd_bus_message_is_method_call(call, "org.freedesktop.DBus.Properties", "Get")) return 0;
    if (self->m_silent) return 1;
    const char* interface = nullptr;
    const char* property = nullptr;
    sd_bus_message_read(call, "ss", &interface, &property);
    const auto found = self->m_properties.find({sd_bus_message_get_path(call), interface, property});
    if (found == self->m_properties.end()) {
      return sd_bus_reply_method_errorf(call, "org.freedesktop.DBus.Error.UnknownProperty",
                                        "no such property");
    }
    sd_bus_message* reply = nullptr;
    sd_bus_message_new_method_return(call, &reply);
    found->second(reply);
    sd_bus_send(nullptr, reply, nullptr);
    sd_bus_message_unref(reply);
    return 1;
  }

  std::map<Key, Writer> m_properties;
  bool m_silent;
  std::atomic<bool> m_stop = false;
  std::thread m_thread;
};

// A private bus daemon in a temporary folder, in place of the system bus.
class PrivateBus {
 public:
  PrivateBus() {
    const fs::path socket = m_folder.path() / "bus";
    m_address = "unix:path=" + socket.string();
    const fs::path config = m_folder.write(
        "bus.conf", "<busconfig><type>system</type><listen>" + m_address +
                        "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                        "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/><allow own=\"*\"/>"
                        "<allow user=\"*\"/>"
                        "</policy></busconfig>");
    posix_spawn_file_actions_t quiet;  // the daemon's warnings about our stand-ins are noise here
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    m_daemon = std::make_unique<Child>(
        std::vector<std::string>{"dbus-daemon", "--config-file=" + config.string(), "--nofork",
                                 "--nopidfile", "--nosyslog"},
        &quiet);
    posix_spawn_file_actions_destroy(&quiet);
    for (int i = 0; i < 500 && !fs::exists(socket); ++i) std::this_thread::sleep_for(10ms);
  }
  const std::string& address() const { return m_address; }
  std::map<std::string, std::string> environment() const {
    return {{"DBUS_SYSTEM_BUS_ADDRESS", m_address}};
  }

 private:
  TemporaryDirectory m_folder;
  std::string m_address;
  std::unique_ptr<Child> m_daemon;
};

const std::string kLogin = "org.freedesktop.login1";
const std::string kSession = "org.freedesktop.login1.Session";
const std::string kNM = "org.freedesktop.NetworkManager";
const std::string kActive = "org.freedesktop.NetworkManager.Connection.Active";

TEST(SystemBusSources, ReadTheSessionLockAndTheActivatedNetworks) {
  PrivateBus bus;
  using S = StandInServices;
  const std::string wifi = "/org/freedesktop/NetworkManager/ActiveConnection/1";
  const std::string wired = "/org/freedesktop/NetworkManager/ActiveConnection/2";
  const std::string loopback = "/org/freedesktop/NetworkManager/ActiveConnection/3";
  const std::string starting = "/org/freedesktop/NetworkManager/ActiveConnection/4";
  const std::string binaryWifi = "/org/freedesktop/NetworkManager/ActiveConnection/5";
  auto connection = [](std::map<S::Key, S::Writer>& table, const std::string& path,
                       std::uint32_t state, const std::string& type, const std::string& id,
                       const std::string& accessPoint) {
    table[{path, kActive, "State"}] = S::number(state);
    table[{path, kActive, "Type"}] = S::text(type);
    table[{path, kActive, "Id"}] = S::text(id);
    table[{path, kActive, "SpecificObject"}] = S::text(accessPoint, 'o');
  };
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
  connection(table, wifi, 2, "802-11-wireless", "cafe-profile", "/org/freedesktop/NetworkManager/AccessPoint/7");
  connection(table, wired, 2, "802-3-ethernet", "Wired connection 1", "/");
  connection(table, loopback, 2, "loopback", "lo", "/");
  connection(table, starting, 1, "vpn", "Office VPN", "/");
  connection(table, binaryWifi, 2, "802-11-wireless", "Hotel", "/org/freedesktop/NetworkManager/AccessPoint/8");
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
  PrivateBus bus;
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
  const std::string display = xvfbDisplay();
  ASSERT_FALSE(display.empty()) << "Xvfb did not start";
  Windows windows(display);
  TemporaryDirectory home;
  const std::map<std::string, std::string> environment = {{"DISPLAY", display}};
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

  windows.activate({"New Tab", std::nullopt, std::nullopt, std::string("google-chrome\0Google-chrome\0", 28)});
  EXPECT_EQ(click().context.frontmostBrowser, "google-chrome");

  // A mail program in front: no browser; the title is collected only when the user wants it.
  windows.activate({"Inbox", std::nullopt, 1, std::string("mail\0Mail\0", 10)});
  result = click();
  EXPECT_EQ(result.context.frontmostBrowser, std::nullopt);
  EXPECT_EQ(result.sourceWindow, "Inbox");
  settings.useSourceWindow = false;
  EXPECT_EQ(click().sourceWindow, std::nullopt);
}

// `linkferry open` on the display: a rule on the source window's title decides because of the
// title of the window in front.
TEST(LinuxContextClick, ARuleOnTheSourceWindowFollowsTheActiveWindowThroughLinkferryOpen) {
  const std::string display = xvfbDisplay();
  ASSERT_FALSE(display.empty()) << "Xvfb did not start";
  Windows windows(display);
  TemporaryDirectory folder;
  JsonValue browsers = JsonValue::array();
  for (const std::string name : {"alpha", "beta"}) {
    browsers.push_back({{"id", name}, {"name", name + " browser"}, {"family", "chromium"},
                        {"appPath", "/bin/true"}});
  }
  folder.write("data/browsers.json", browsers.dump());
  folder.write("data/settings.json", R"({"useSourceWindow": true})");
  folder.write("data/rules.json", R"({"version": 1, "rules": [
      {"name": "Work mail", "match": {"sourceWindow": "ärger.*mail"}, "action": {"open": {"browser": "beta"}}},
      {"name": "Else", "match": {"host": "x.example"}, "action": {"open": {"browser": "alpha"}}}]})");
  Process::Options options;
  options.captureOutput = true;
  options.environment = {{"HOME", (folder.path() / "home").string()},
                         {"LINKFERRY_HOME", (folder.path() / "data").string()},
                         {"XDG_DATA_HOME", (folder.path() / "share").string()},
                         {"XDG_DATA_DIRS", (folder.path() / "none").string()},
                         {"XDG_CONFIG_HOME", (folder.path() / "home/.config").string()},
                         {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bus"},
                         {"DISPLAY", display},
                         {"PATH", "/usr/bin:/bin"}};
  auto open = [&] {
    const auto result = Process::run(testing::linkferryProgram().string(),
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

  const JsonValue log = JsonValue::parse(Files::read(folder.path() / "data/log.json"));
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0]["sourceWindow"], "Projekt ÄRGER — Mail");
}

}  // namespace
}  // namespace linkferry
