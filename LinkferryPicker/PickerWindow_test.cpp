// The picker window as a user meets it: the real `linkferry-picker` on an X server of its own
// (Xvfb, one for this program), real key presses and clicks from xdotool, and `linkferry open`
// answering a click through the window.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <functional>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "ClickOutcome.h"
#include "PickerWindow.h"
#include "ServiceClient.h"
#include "foundation/Files.h"
#include "foundation/Process.h"
#include "foundation/Text.h"
#include "rules/RuleAuthoring.h"
#include "support/TestSupport.h"

extern char** environ;

namespace linkferry {
namespace {

using namespace std::chrono_literals;
using testing::TemporaryDirectory;

// Long enough for a sanitizer build on a busy machine; a window that hangs fails the test after it.
constexpr auto kPatience = 60s;

// A program started with pipes on its standard input, output and error.
class Child {
 public:
  Child(const std::string& program, const std::vector<std::string>& arguments,
        const std::map<std::string, std::string>& environment, const std::string& input) {
    int in[2], out[2], err[2];
    EXPECT_EQ(pipe2(in, O_CLOEXEC) | pipe2(out, O_CLOEXEC) | pipe2(err, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<std::string> texts{program};
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);
    std::vector<std::string> variables;
    for (const auto& [name, value] : environment) variables.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);
    EXPECT_EQ(posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()), 0)
        << program;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    m_out = out[0];
    m_err = err[0];
    signal(SIGPIPE, SIG_IGN);
    (void)!write(in[1], input.data(), input.size());
    close(in[1]);
  }

  ~Child() {
    if (m_pid > 0) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
    close(m_out);
    close(m_err);
  }

  // Reads standard error up to a line starting with `prefix` and returns that line; empty when
  // the program ends or takes too long first.
  std::string waitFor(std::string_view prefix) {
    for (;;) {
      std::size_t end;
      while ((end = m_errorText.find('\n', m_scanned)) != std::string::npos) {
        std::string line = m_errorText.substr(m_scanned, end - m_scanned);
        m_scanned = end + 1;
        if (line.starts_with(prefix)) return line;
      }
      if (!readSome(m_err, m_errorText)) return "";
    }
  }

  // Every line of standard error read so far that starts with `prefix`.
  std::vector<std::string> linesStartingWith(std::string_view prefix) const {
    std::vector<std::string> lines;
    for (std::string_view line : Text::split(m_errorText, '\n')) {
      if (line.starts_with(prefix)) lines.emplace_back(line);
    }
    return lines;
  }

  // Standard output to its end and the exit status; the program is killed when it takes too
  // long (exit status -1).
  std::pair<std::string, int> finish() {
    std::string output;
    while (readSome(m_out, output)) {
    }
    while (readSome(m_err, m_errorText)) {
    }
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (waitpid(m_pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) return {output, -1};
      std::this_thread::sleep_for(10ms);
    }
    m_pid = -1;
    return {output, WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)};
  }

  const std::string& errorText() const { return m_errorText; }

 private:
  // False at the end of the stream or after waiting too long.
  bool readSome(int fd, std::string& into) {
    pollfd watch{fd, POLLIN, 0};
    if (poll(&watch, 1, static_cast<int>(std::chrono::milliseconds(kPatience).count())) <= 0) {
      return false;
    }
    char buffer[4096];
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count <= 0) return false;
    into.append(buffer, static_cast<std::size_t>(count));
    return true;
  }

  pid_t m_pid = -1;
  int m_out = -1;
  int m_err = -1;
  std::string m_errorText;
  std::size_t m_scanned = 0;
};

// The X server every test of this program draws on.
class XServer : public ::testing::Environment {
 public:
  static std::string display;

  void SetUp() override {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const std::string fd = std::to_string(ready[1]);
    // -noreset: the server would otherwise start afresh whenever its last client leaves, and
    // put the pointer a test has moved back in the middle of the screen.
    std::vector<std::string> texts{
        "/usr/bin/Xvfb", "-displayfd", fd,    "-noreset",  "-screen", "0",
        "1280x800x24",   "-nolisten",  "tcp", "-nolisten", "unix"};
    // Local connections go through the abstract socket; no files are left behind.
    texts.pop_back();
    texts.pop_back();
    std::vector<char*> argv;
    for (std::string& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    ASSERT_EQ(posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ), 0)
        << "Xvfb is needed (scripts/setup installs it)";
    posix_spawn_file_actions_destroy(&actions);
    close(ready[1]);
    std::string number;
    char c;
    while (read(ready[0], &c, 1) == 1 && c != '\n') number += c;
    close(ready[0]);
    ASSERT_FALSE(number.empty()) << "Xvfb did not start";
    display = ":" + number;
  }

  void TearDown() override {
    kill(m_pid, SIGTERM);
    waitpid(m_pid, nullptr, 0);
  }

 private:
  pid_t m_pid = -1;
};

std::string XServer::display;
[[maybe_unused]] ::testing::Environment* const xServer =
    ::testing::AddGlobalTestEnvironment(new XServer);

// This process's environment on the test's X server, without a session bus (none runs here, and
// looking for one only slows the window down).
std::map<std::string, std::string> displayEnvironment() {
  std::map<std::string, std::string> environment = Process::currentEnvironment();
  environment["DISPLAY"] = XServer::display;
  environment.erase("WAYLAND_DISPLAY");
  environment["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=/nonexistent";
  environment["GTK_A11Y"] = "none";
  return environment;
}

// What xdotool printed.
std::string xdotool(const std::vector<std::string>& arguments) {
  Process::Options options;
  options.captureOutput = true;
  options.environment = displayEnvironment();
  const Process::Result result = Process::run("/usr/bin/xdotool", arguments, options);
  EXPECT_EQ(result.exitStatus, 0) << result.standardError;
  return result.standardOutput;
}

// Where a window is on the screen (its top-left corner) and how big it is.
struct Geometry {
  int x = 0, y = 0, width = 0, height = 0;
};

Geometry geometryOf(const std::string& window) {
  Geometry geometry;
  const std::string shell = xdotool({"getwindowgeometry", "--shell", window});
  for (std::string_view line : Text::split(shell, '\n')) {
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const int value = std::atoi(std::string(line.substr(equals + 1)).c_str());
    const std::string_view name = line.substr(0, equals);
    if (name == "X") geometry.x = value;
    if (name == "Y") geometry.y = value;
    if (name == "WIDTH") geometry.width = value;
    if (name == "HEIGHT") geometry.height = value;
  }
  return geometry;
}

std::string pickerProgram() { return (testing::binaryDirectory() / "cli/linkferry-picker").string(); }

// A request for https://news.example/a with one candidate per browser name, given as the window
// would get it from `linkferry open` with these settings.
PickerProtocol::Input request(const std::vector<std::string>& browsers, AppSettings settings = {},
                              const std::string& link = "https://news.example/a") {
  PickerRequest picker{Uuid::random(), *URL::parse(link), {}, {}, {}, {}, {}, {}, {}};
  for (const std::string& browser : browsers) {
    picker.candidates.push_back(Candidate{BrowserTarget{browser}, 0, {}});
  }
  return PickerWindow::input(picker, BrowserCatalog{}, settings);
}

// The window shown with `input` and how it answers what the test does with it.
class Window {
 public:
  explicit Window(const PickerProtocol::Input& input, std::map<std::string, std::string> extra = {})
      : m_child(pickerProgram(), {}, withTracing(std::move(extra)),
                Json::encodeCompact(input.toJson())) {
    m_shown = !m_child.waitFor("shown ").empty();
    EXPECT_TRUE(m_shown) << m_child.errorText();
    m_child.waitFor("ready");
    const std::vector<std::string> window = m_child.linesStartingWith("window ");
    m_id = window.empty() ? "" : window.front().substr(7);
    for (const std::string& line : m_child.linesStartingWith("row ")) {
      std::istringstream fields(line.substr(4));
      Geometry bounds;
      std::size_t index = 0;
      fields >> index >> bounds.x >> bounds.y >> bounds.width >> bounds.height;
      m_rows[index] = bounds;
    }
    if (!m_shown) m_child.finish();
  }

  bool shown() const { return m_shown; }
  const std::string& id() const { return m_id; }
  std::size_t rowCount() const { return m_rows.size(); }
  // A shown row's bounds inside the window.
  Geometry row(std::size_t index) const { return m_rows.at(index); }
  // What the window traced after `prefix` on the first line starting with it; empty when none did.
  std::string traced(std::string_view prefix) const {
    const std::vector<std::string> lines = m_child.linesStartingWith(prefix);
    return lines.empty() ? "" : lines.front().substr(prefix.size());
  }

  // Keys in xdotool's names ("2", "alt+3", "shift+Return").
  void keys(const std::vector<std::string>& names) {
    std::vector<std::string> arguments{"key", "--delay", "30"};
    arguments.insert(arguments.end(), names.begin(), names.end());
    xdotool(arguments);
  }

  // Text typed as it is, in the focused widget.
  void type(const std::string& text) { xdotool({"type", "--delay", "30", text}); }

  // A click in the middle of a row, with a modifier held when one is named ("alt", "shift").
  void click(std::size_t row, const std::string& modifier = "") {
    const Geometry bounds = m_rows.at(row);
    std::vector<std::string> arguments{"mousemove", "--window", m_id,
                                       std::to_string(bounds.x + bounds.width / 2),
                                       std::to_string(bounds.y + bounds.height / 2)};
    if (!modifier.empty()) arguments.insert(arguments.end(), {"keydown", modifier});
    arguments.insert(arguments.end(), {"click", "1"});
    if (!modifier.empty()) arguments.insert(arguments.end(), {"keyup", modifier});
    xdotool(arguments);
  }

  // The answer printed, parsed.
  JsonValue answer() {
    auto [output, status] = m_child.finish();
    EXPECT_EQ(status, 0) << m_child.errorText();
    return Json::tryParse(output).value_or(JsonValue());
  }

 private:
  static std::map<std::string, std::string> withTracing(std::map<std::string, std::string> extra) {
    std::map<std::string, std::string> environment = displayEnvironment();
    environment["LINKFERRY_PICKER_TRACE"] = "1";
    for (auto& [name, value] : extra) environment[name] = value;
    return environment;
  }

  Child m_child;
  bool m_shown = false;
  std::string m_id;
  std::map<std::size_t, Geometry> m_rows;
};

JsonValue chose(std::int64_t index, bool makeRule = false, bool privateMode = false) {
  return {{"choose", {{"index", index}, {"makeRule", makeRule}, {"privateMode", privateMode}}}};
}

TEST(PickerWindow, DigitsChooseTheirRowAndKeypadEnterTheSelectedOne) {
  Window digit(request({"a", "b", "c"}));
  digit.keys({"2"});
  EXPECT_EQ(digit.answer(), chose(1));

  Window keypad(request({"a", "b", "c"}));
  keypad.keys({"Down", "KP_Enter"});
  EXPECT_EQ(keypad.answer(), chose(1));
}

// The window draws with cairo, and GDK was told not to probe OpenGL at display start, a probe that
// once took a quarter of the window's start for a context nothing used.
TEST(PickerWindow, DrawsInSoftwareWithoutOpenGL) {
  Window window(request({"a", "b"}));
  ASSERT_TRUE(window.shown());
  EXPECT_EQ(window.traced("renderer "), "GskCairoRenderer");
  EXPECT_TRUE(window.traced("gl ").starts_with("off")) << window.traced("gl ");
  window.keys({"Escape"});
  EXPECT_EQ(window.answer(), JsonValue::parse(R"({"cancel": true})"));
}

TEST(PickerWindow, ArrowsWrapAroundAndADigitWithoutARowIsIgnored) {
  Window window(request({"a", "b", "c"}));
  window.keys({"5", "Up", "Down", "Down", "Return"});
  EXPECT_EQ(window.answer(), chose(1));
}

TEST(PickerWindow, MovingPastTheFoldShowsTheHiddenRows) {
  AppSettings settings;
  settings.pickerVisibleCount = 4;
  const std::vector<std::string> six{"a", "b", "c", "d", "e", "f"};
  Window down(request(six, settings));
  EXPECT_EQ(down.rowCount(), 4u);
  down.keys({"Down", "Down", "Down", "Down", "Return"});
  EXPECT_EQ(down.answer(), chose(4));

  Window up(request(six, settings));
  up.keys({"Up", "Return"});
  EXPECT_EQ(up.answer(), chose(5));
}

TEST(PickerWindow, AltRemembersForTheScopeSelectedAndShiftOpensPrivately) {
  Window remember(request({"a", "b", "c"}));
  remember.keys({"Left", "alt+3"});
  JsonValue expected = chose(2, true);
  expected["scope"] = "host";
  EXPECT_EQ(remember.answer(), expected);

  Window privately(request({"a", "b"}));
  privately.keys({"Down", "shift+Return"});
  EXPECT_EQ(privately.answer(), chose(1, false, true));

  Window cancel(request({"a", "b"}));
  cancel.keys({"Escape"});
  EXPECT_EQ(cancel.answer(), JsonValue::parse(R"({"cancel": true})"));
}

// The pattern scope's expression is edited in the window: digits typed there choose nothing, an
// expression that does not compile keeps the window open, and the one chosen is remembered.
TEST(PickerWindow, APatternEditedInTheWindowIsTheOneRemembered) {
  PickerProtocol::Input input = request({"a", "b"});
  ASSERT_EQ(input.scopes.back().id, "pattern");
  EXPECT_EQ(input.scopes.back().pattern, RuleAuthoring::pageRegex(input.request.url));
  Window window(input);
  window.keys({"Right", "Tab", "ctrl+a"});
  window.type("^https://news\\.example/[0-9]+(");
  window.keys({"alt+2", "BackSpace", "alt+2"});
  const std::string typed = "^https://news\\.example/[0-9]+";
  JsonValue expected = chose(1, true);
  expected["scope"] = "pattern";
  expected["pattern"] = typed;
  EXPECT_EQ(window.answer(), expected);

  const PickerRequest& asked = input.request;
  EXPECT_EQ(PickerWindow::scope(asked, "pattern", typed), RememberScope::pattern(typed));
  EXPECT_EQ(PickerWindow::scope(asked, "pattern", typed + "("), std::nullopt);
  EXPECT_EQ(PickerWindow::scope(asked, "pattern"), RememberScope::pattern(*input.scopes.back().pattern));
  EXPECT_EQ(PickerWindow::scope(asked, "host", typed), RememberScope::host());
}

// Tab goes from the scope to the pattern (when that scope is selected) and on to the duration,
// Shift+Tab back; left and right step whichever of the scope and the duration Tab is on.
TEST(PickerWindow, TabReachesTheDurationAndTheArrowsStepIt) {
  const PickerProtocol::Input input = request({"a", "b"});
  ASSERT_GE(input.durations.size(), 2u);
  Window window(input);
  window.keys({"Tab", "Right", "Right", "shift+Tab", "Left", "alt+2"});
  JsonValue expected = chose(1, true);
  expected["scope"] = "host";
  expected["duration"] = input.durations[1].toJson();
  EXPECT_EQ(window.answer(), expected);

  Window pattern(input);
  pattern.keys({"Right", "Tab", "Tab", "Right", "Right", "Left", "alt+1"});
  expected = chose(0, true);
  expected["scope"] = "pattern";
  expected["pattern"] = *input.scopes.back().pattern;
  expected["duration"] = input.durations[0].toJson();
  EXPECT_EQ(pattern.answer(), expected);
}

TEST(PickerWindow, AClickChoosesAltClickRemembersShiftClickOpensPrivately) {
  Window click(request({"a", "b", "c"}));
  click.click(2);
  EXPECT_EQ(click.answer(), chose(2));

  Window alt(request({"a", "b", "c"}));
  alt.click(1, "alt");
  JsonValue expected = chose(1, true);
  expected["scope"] = "domain";
  EXPECT_EQ(alt.answer(), expected);

  Window shift(request({"a", "b", "c"}));
  shift.click(0, "shift");
  EXPECT_EQ(shift.answer(), chose(0, false, true));
}

TEST(PickerWindow, ARequestThatCannotBeShownIsRefusedAtOnce) {
  const std::map<std::string, std::string> environment = displayEnvironment();
  Child broken(pickerProgram(), {}, environment, "{\"id\": ");
  auto [brokenOutput, brokenStatus] = broken.finish();
  EXPECT_EQ(brokenStatus, 1);
  EXPECT_TRUE(brokenOutput.empty());
  EXPECT_TRUE(broken.errorText().starts_with("linkferry-picker: standard input: line 1"))
      << broken.errorText();

  PickerProtocol::Input input = request({"a"});
  JsonValue empty = input.toJson();
  empty["candidates"] = JsonValue::array();
  Child none(pickerProgram(), {}, environment, Json::encodeCompact(empty));
  auto [noneOutput, noneStatus] = none.finish();
  EXPECT_EQ(noneStatus, 1);
  EXPECT_NE(none.errorText().find("candidates: no candidates to choose from"), std::string::npos)
      << none.errorText();
}

// With pickerAtCursor the window opens with the pointer in the middle of its first row, the one
// Return opens, moved only as far as it takes to stay on the screen; otherwise it is centred
// across and a third of the way down.
TEST(PickerWindow, OpensUnderThePointerOnTheScreenOrCentred) {
  AppSettings settings;
  settings.pickerAtCursor = true;
  const std::vector<std::string> three{"a", "b", "c"};
  const auto shownWith = [&](int pointerX, int pointerY, const std::string& note = "") {
    xdotool({"mousemove", "--sync", std::to_string(pointerX), std::to_string(pointerY)});
    PickerProtocol::Input input = request(three, settings);
    if (!note.empty()) input.request.note = note;
    return std::make_unique<Window>(input);
  };
  const auto dismiss = [](Window& window) {
    window.keys({"Escape"});
    EXPECT_EQ(window.answer(), JsonValue::parse(R"({"cancel": true})"));
  };

  // A note above the rows moves the first one down: the window is placed once it is laid out.
  auto middle = shownWith(300, 250, "Could not open in alpha: exited with status 1");
  ASSERT_TRUE(middle->shown());
  Geometry window = geometryOf(middle->id());
  const Geometry first = middle->row(0);
  EXPECT_NEAR(window.x + first.x + first.width / 2, 300, 1);
  EXPECT_NEAR(window.y + first.y + first.height / 2, 250, 1);
  dismiss(*middle);

  // Near the bottom-right corner the window keeps to the screen, still under the pointer.
  auto corner = shownWith(1270, 790);
  window = geometryOf(corner->id());
  EXPECT_EQ(window.x + window.width, 1280);
  EXPECT_EQ(window.y + window.height, 800);
  EXPECT_LT(window.x, 1270);
  EXPECT_LT(window.y, 790);
  dismiss(*corner);

  settings.pickerAtCursor = false;
  auto centred = shownWith(100, 100);
  window = geometryOf(centred->id());
  EXPECT_NEAR(window.x + window.width / 2, 640, 1);
  EXPECT_NEAR(window.y, (800 - window.height) / 3, 1);
  dismiss(*centred);
}

// The window's picture, kept as <build>/test-output/picker/<name>.png: its width, height and
// number of colours.
struct Shot {
  int width = 0, height = 0, colours = 0;
};
Shot screenshot(const std::string& window, const std::string& name) {
  const auto folder = testing::binaryDirectory() / "test-output/picker";
  std::filesystem::create_directories(folder);
  const auto png = folder / (name + ".png");
  std::filesystem::remove(png);
  Process::Options options;
  options.captureOutput = true;
  options.environment = displayEnvironment();
  Process::Result shot =
      Process::run("/usr/bin/import", {"-window", window, png.string()}, options);
  EXPECT_EQ(shot.exitStatus, 0) << shot.standardError;
  Process::Result measured =
      Process::run("/usr/bin/identify", {"-format", "%w %h %k", png.string()}, options);
  EXPECT_EQ(measured.exitStatus, 0) << measured.standardError;
  std::istringstream fields(measured.standardOutput);
  Shot result;
  fields >> result.width >> result.height >> result.colours;
  return result;
}
Shot screenshot(const Window& window, const std::string& name) {
  return screenshot(window.id(), name);
}

// Ten candidates, a safety finding and a note, drawn and kept as
// <build>/test-output/picker/picker-ten-candidates.png.
TEST(PickerWindow, TheWindowWithEverythingInItIsDrawn) {
  const std::vector<std::string> labels{
      "Firefox — Work",        "Chromium — Personal",    "Firefox — Personal",
      "Chromium — Client A",   "Firefox — Work · Shopping", "Chromium (private)",
      "Firefox (private)",     "Chromium — Testing",     "Custom browser",
      "Firefox — Archive"};
  std::vector<std::string> browsers;
  for (const std::string& label : labels) {
    browsers.push_back(label.starts_with("Firefox") ? "firefox-esr"
                       : label.starts_with("Chromium") ? "chromium"
                                                       : "custom");
  }
  PickerProtocol::Input input = request(
      browsers, AppSettings{},
      "https://accounts.examp1e-login.com/signin/v2/challenge/pwd?continue=https%3A%2F%2Fmail."
      "example.com%2F&service=mail&flowName=GlifWebSignIn&hl=en");
  input.labels = labels;
  for (std::size_t i = 0; i < labels.size(); ++i) {
    const auto dash = labels[i].find("— ");
    if (dash == std::string::npos) continue;
    const std::string profile = labels[i].substr(dash + 4);
    input.avatars[i] = ProfileAvatar{ProfileAvatar::initialOf(profile),
                                     ProfileAvatar::stableColor(profile), ProfileAvatar::white,
                                     std::nullopt};
  }
  input.request.note = "Could not open in Firefox — Work: exited with status 1: no display";
  input.request.safety.push_back(LinkSafety::Finding{"lookalike", "Looks like another site",
                                                     "examp1e-login.com",
                                                     LinkSafety::Finding::Kind::domain});
  input.request.expandedFrom = URL::parse("https://t.example/AbC123");
  input.request.candidates[0].reasons.push_back(Reason{"history", "12 visits this month"});
  Window window(input);
  ASSERT_TRUE(window.shown());
  const Shot shot = screenshot(window, "picker-ten-candidates");
  EXPECT_GE(shot.width, 400);
  EXPECT_LE(shot.width, 1280);
  EXPECT_GE(shot.height, 300);
  EXPECT_LE(shot.height, 800);
  EXPECT_GT(shot.colours, 64) << "the window looks blank";
  window.keys({"Escape"});
  EXPECT_EQ(window.answer(), JsonValue::parse(R"({"cancel": true})"));
}

// A host of 300 characters once made a window 3,170 pixels wide with its controls off the screen,
// and one of 10,000 a window that drew nothing while "1" still opened the link. The window stays
// within the screen and is drawn, whatever the host, the user name before it, the path and the
// window title (an e-mail's subject, here with a right-to-left override) hold.
// The 300-character host is kept as <build>/test-output/picker/picker-long-host.png.
TEST(PickerWindow, ALongHostOrTitleKeepsTheWindowOnTheScreenAndDrawn) {
  const auto hostOf = [](std::size_t length) {
    std::string host;
    while (host.size() + 13 < length) host += std::string(59, 'a' + static_cast<char>(host.size() % 26)) + ".";
    return host.substr(0, length - 12) + "bank.example";
  };
  for (const std::size_t length : {std::size_t{300}, std::size_t{10000}}) {
    SCOPED_TRACE(length);
    const std::string host = hostOf(length);
    ASSERT_EQ(host.size(), length);
    PickerProtocol::Input input =
        request({"a", "b"}, AppSettings{},
                "https://" + std::string(length / 2, 'u') + "@" + host + "/" +
                    std::string(length, 'p') + "?q=" + std::string(length, 'q'));
    input.request.sourceApp = "Mail " + std::string(length, 'm');
    input.request.sourceWindow = "Invoice — bank.example \u202Egnp.exe " + std::string(length, 't');
    input.request.safety.push_back(LinkSafety::Finding{
        "too-long", "host name longer than DNS allows", host, LinkSafety::Finding::Kind::domain});
    Window window(input);
    ASSERT_TRUE(window.shown());
    const Geometry geometry = geometryOf(window.id());
    EXPECT_GE(geometry.x, 0);
    EXPECT_GE(geometry.y, 0);
    EXPECT_LE(geometry.x + geometry.width, 1280);
    EXPECT_LE(geometry.y + geometry.height, 800);
    EXPECT_LE(geometry.width, 900);
    const Shot shot = screenshot(window, length == 300 ? "picker-long-host" : "picker-huge-host");
    EXPECT_EQ(shot.width, geometry.width);
    EXPECT_GT(shot.colours, 64) << "the window looks blank";
    window.keys({"1"});
    EXPECT_EQ(window.answer(), chose(0));
  }
}

// What xprop says of one property of a window: the text after " = ".
std::string property(const std::string& window, const std::string& name) {
  Process::Options options;
  options.captureOutput = true;
  options.environment = displayEnvironment();
  const Process::Result result = Process::run("/usr/bin/xprop", {"-id", window, name}, options);
  EXPECT_EQ(result.exitStatus, 0) << result.standardError;
  const auto equals = result.standardOutput.find(" = ");
  if (equals == std::string::npos) return "";
  return std::string(Text::trimmed(result.standardOutput.substr(equals + 3)));
}

// A tiling window manager floats the picker as the dialog it is, finds it by its class and
// names it by the link's host; a second picker shown while the first is open steps down and to
// the right of it instead of covering it exactly.
TEST(PickerWindow, IsADialogNamedForItsHostAndAFurtherOneStepsAside) {
  const PickerProtocol::Input input = request({"a", "b"}, AppSettings{}, "https://xn--bcher-kva.de/x");
  Window first(input);
  ASSERT_TRUE(first.shown());
  EXPECT_EQ(property(first.id(), "WM_CLASS"), "\"linkferry-picker\", \"linkferry-picker\"");
  EXPECT_EQ(property(first.id(), "_NET_WM_WINDOW_TYPE"), "_NET_WM_WINDOW_TYPE_DIALOG");
  EXPECT_EQ(property(first.id(), "_NET_WM_NAME"), "\"Open bücher.de with…\"");

  Window second(input);
  ASSERT_TRUE(second.shown());
  const Geometry under = geometryOf(first.id());
  const Geometry over = geometryOf(second.id());
  EXPECT_EQ(over.x, under.x + 32);
  EXPECT_EQ(over.y, under.y + 32);
  for (Window* window : {&second, &first}) {
    // Keys go to the window under the pointer: there is no window manager to give focus.
    xdotool({"mousemove", "--window", window->id(), "20", "20"});
    window->keys({"Escape"});
    EXPECT_EQ(window->answer(), JsonValue::parse(R"({"cancel": true})"));
  }
}

// The colour of one pixel of a screenshot: red, green and blue from 0 to 255.
std::array<int, 3> pixel(const std::string& name, int x, int y) {
  const auto png = testing::binaryDirectory() / "test-output/picker" / (name + ".png");
  Process::Options options;
  options.captureOutput = true;
  const Process::Result result = Process::run(
      "/usr/bin/convert",
      {png.string(), "-format", "%[fx:int(255*p{" + std::to_string(x) + "," + std::to_string(y) +
                                    "}.r)] %[fx:int(255*p{" + std::to_string(x) + "," +
                                    std::to_string(y) + "}.g)] %[fx:int(255*p{" + std::to_string(x) +
                                    "," + std::to_string(y) + "}.b)]",
       "info:"},
      options);
  EXPECT_EQ(result.exitStatus, 0) << result.standardError;
  std::array<int, 3> rgb{};
  std::istringstream(result.standardOutput) >> rgb[0] >> rgb[1] >> rgb[2];
  return rgb;
}

// A German shop's international name is a calm notice with its ASCII form beside it; a
// look-alike of a known name is danger in red, its name shown in ASCII. Both with a note of
// several lines above the rows. Kept as <build>/test-output/picker/picker-notice.png and
// picker-danger.png.
TEST(PickerWindow, AnInternationalNameIsANoticeAndALookAlikeIsDanger) {
  const std::string note =
      "Could not open in Firefox — Work: exited with status 1:\nError: cannot open display\n"
      "rules.json does not load: nothing was remembered";
  struct Case {
    std::string link;
    std::string name;
    std::string domain;  // the title of the scope that remembers for the domain
  };
  for (const Case& c : {Case{"https://xn--bcher-kva.de/stra%C3%9Fe", "picker-notice", "bücher.de"},
                        Case{"https://www.\xD0\xB0\xD1\x80\xD1\x80\xD3\x8F\xD0\xB5.com/login",
                             "picker-danger", "xn--80ak6aa92e.com"}}) {
    SCOPED_TRACE(c.link);
    PickerProtocol::Input input = request({"a", "b"}, AppSettings{}, c.link);
    ASSERT_LT(input.defaultScope, input.scopes.size());
    EXPECT_EQ(input.scopes[input.defaultScope].title, c.domain);
    input.request.safety = LinkSafety::inspectAll(input.request.url);
    input.request.note = note;
    Window window(input);
    ASSERT_TRUE(window.shown());
    const Shot shot = screenshot(window, c.name);
    EXPECT_GT(shot.colours, 64) << "the window looks blank";
    // Inside the band, above its first line of text.
    const auto [red, green, blue] = pixel(c.name, shot.width / 2, 22);
    if (c.name == "picker-notice") {
      EXPECT_GT(blue, red + 10) << red << " " << green << " " << blue;
    } else {
      EXPECT_GT(red, 150) << red << " " << green << " " << blue;
      EXPECT_LT(green, 80) << red << " " << green << " " << blue;
    }
    xdotool({"mousemove", "--window", window.id(), "20", "20"});
    window.keys({"Escape"});
    EXPECT_EQ(window.answer(), JsonValue::parse(R"({"cancel": true})"));
  }
}

// A desktop in a temporary folder with two browsers, "alpha" and "beta", that are scripts
// recording "<$RECORDER_TAG><name>|<arguments joined by |>", and nothing else installed.
class RecorderDesktop {
 public:
  RecorderDesktop() {
    JsonValue browsers = JsonValue::array();
    for (const std::string name : {"alpha", "beta"}) {
      const auto program =
          m_folder.write("bin/" + name, "#!/bin/sh\nIFS='|'\necho \"${RECORDER_TAG}" + name +
                                            "|$*\" >> '" + launchedFile().string() + "'\n");
      std::filesystem::permissions(program, std::filesystem::perms::owner_all);
      browsers.push_back({{"id", name},
                          {"name", name + " browser"},
                          {"family", "chromium"},
                          {"appPath", program.string()}});
    }
    m_folder.write("data/browsers.json", browsers.dump());
    std::filesystem::create_directories(m_folder.path() / "run");
    std::filesystem::permissions(m_folder.path() / "run", std::filesystem::perms::owner_all);
    m_environment = displayEnvironment();
    m_environment["HOME"] = (m_folder.path() / "home").string();
    m_environment["LINKFERRY_HOME"] = (m_folder.path() / "data").string();
    m_environment["XDG_DATA_HOME"] = (m_folder.path() / "share").string();
    m_environment["XDG_CONFIG_HOME"] = (m_folder.path() / "home/.config").string();
    m_environment["XDG_DATA_DIRS"] = (m_folder.path() / "none").string();
    m_environment["XDG_RUNTIME_DIR"] = (m_folder.path() / "run").string();
    m_environment["PATH"] = "/usr/bin:/bin";
  }

  TemporaryDirectory& folder() { return m_folder; }
  const std::map<std::string, std::string>& environment() const { return m_environment; }
  std::map<std::string, std::string> withoutDisplay() const {
    std::map<std::string, std::string> environment = m_environment;
    environment.erase("DISPLAY");
    return environment;
  }

  // The first `count` launches, once there are as many (or what there is after 30 seconds).
  std::vector<std::string> launched(std::size_t count) const {
    std::vector<std::string> lines;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (lines.size() < count && std::chrono::steady_clock::now() < deadline) {
      lines.clear();
      std::ifstream file(launchedFile());
      for (std::string line; std::getline(file, line);) lines.push_back(line);
      if (lines.size() < count) std::this_thread::sleep_for(50ms);
    }
    return lines;
  }

  // `linkferry open` as a program without a terminal clicks: standard input is a pipe.
  std::unique_ptr<Child> open(const std::vector<std::string>& arguments,
                              bool display = true) const {
    std::vector<std::string> words{"open"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    return std::make_unique<Child>(testing::linkferryProgram().string(), words,
                                   display ? m_environment : withoutDisplay(), "");
  }

  // `linkferry open` whose window is answered with `keys` (xdotool's names) once it shows;
  // its output and exit status.
  std::pair<std::string, int> openAnswering(const std::string& link,
                                            const std::vector<std::string>& keys,
                                            const std::vector<std::string>& options = {}) const {
    std::vector<std::string> arguments = options;
    arguments.push_back(link);
    const std::unique_ptr<Child> clicked = open(arguments);
    xdotool({"search", "--sync", "--onlyvisible", "--classname", "^linkferry-picker$"});
    std::vector<std::string> pressed{"key", "--delay", "30"};
    pressed.insert(pressed.end(), keys.begin(), keys.end());
    xdotool(pressed);
    auto result = clicked->finish();
    result.first += clicked->errorText();
    return result;
  }

 private:
  std::filesystem::path launchedFile() const { return m_folder.path() / "launched.txt"; }

  TemporaryDirectory m_folder;
  std::map<std::string, std::string> m_environment;
};

// `linkferry serve` for `desktop`, without a display of its own (the window is the clicking
// process's); what it launches is tagged "served:", so a click routed in the clicking process
// would show. Fails the test when it does not answer.
std::unique_ptr<Child> startService(const RecorderDesktop& desktop) {
  std::map<std::string, std::string> serviceEnvironment = desktop.withoutDisplay();
  serviceEnvironment["RECORDER_TAG"] = "served:";
  auto service = std::make_unique<Child>(testing::linkferryProgram().string(),
                                         std::vector<std::string>{"serve"}, serviceEnvironment, "");
  bool answering = false;
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (!answering && std::chrono::steady_clock::now() < deadline) {
    if (auto connection = ServiceClient::Connection::open(desktop.environment())) {
      try {
        answering = connection->exchange({{"request", "status"}}, 5s).value("ok", false);
      } catch (const std::exception&) {
      }
    }
    if (!answering) std::this_thread::sleep_for(25ms);
  }
  EXPECT_TRUE(answering) << "linkferry serve did not answer";
  return service;
}

// `linkferry open` run by a program without a terminal, on a desktop: the window asks, a key
// press answers, the browser chosen receives the link, and a remembered choice decides the next
// click without asking.
TEST(OpenThroughTheWindow, AKeyPressOpensTheChosenBrowserAndTheRememberedChoiceDecidesNextTime) {
  RecorderDesktop desktop;
  auto [output, status] =
      desktop.openAnswering("https://news.example/today", {"alt+2"}, {"--pick"});
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("picked in beta browser"), std::string::npos) << output;
  EXPECT_EQ(desktop.launched(1), std::vector<std::string>{"beta|https://news.example/today"});

  // No display this time: were the rule not to decide, the request would be printed, not shown.
  auto next = desktop.open({"https://news.example/tomorrow"}, false)->finish();
  EXPECT_EQ(next.second, 0) << next.first;
  EXPECT_EQ(desktop.launched(2), (std::vector<std::string>{"beta|https://news.example/today",
                                                           "beta|https://news.example/tomorrow"}));
}

// The same through `linkferry serve`: the service decides that the user must choose, the window
// of the clicking `linkferry open` asks, and the answer goes back to the service, which opens
// the browser and keeps the remembered rule (with the duration chosen in the window) for the
// next click.
TEST(OpenThroughTheWindow, TheServiceOpensWhatTheWindowChoseAndFollowsTheRuleRemembered) {
  RecorderDesktop desktop;
  desktop.folder().write("data/rules.json", R"({"version": 1, "rules": [
      {"name": "Ask for news", "match": {"host": "news.example"},
       "action": {"prompt": [{"browser": "alpha"}, {"browser": "beta"}]}}]})");
  const std::unique_ptr<Child> service = startService(desktop);
  if (HasFailure()) return;

  auto [chosen, status] = desktop.openAnswering("https://news.example/today", {"2"});
  EXPECT_EQ(status, 0) << chosen;
  EXPECT_NE(chosen.find("picked in beta browser"), std::string::npos) << chosen;
  EXPECT_EQ(desktop.launched(1),
            std::vector<std::string>{"served:beta|https://news.example/today"});

  // Alt+1 with the first duration after "for good": remembered until then, for the host.
  auto [remembered, rememberedStatus] = desktop.openAnswering(
      "https://news.example/later", {"Tab", "Right", "shift+Tab", "Left", "alt+1"});
  EXPECT_EQ(rememberedStatus, 0) << remembered;
  EXPECT_NE(remembered.find("rule created: "), std::string::npos) << remembered;
  EXPECT_NE(remembered.find(", expires "), std::string::npos) << remembered;
  const JsonValue rules =
      JsonValue::parse(Files::read(desktop.folder().path() / "data/rules.json"))["rules"];
  ASSERT_GE(rules.size(), 1u);
  EXPECT_EQ(rules[0]["match"], JsonValue::parse(R"({"host": "news.example"})")) << rules.dump();
  EXPECT_EQ(rules[0]["action"]["open"]["browser"], "alpha") << rules.dump();
  EXPECT_TRUE(rules[0].contains("expiresAt")) << rules.dump();

  // No display: only the remembered rule can answer this click.
  auto next = desktop.open({"https://news.example/tomorrow"}, false)->finish();
  EXPECT_EQ(next.second, 0) << next.first;
  EXPECT_NE(next.first.find("opened in alpha browser"), std::string::npos) << next.first;
  EXPECT_EQ(desktop.launched(3),
            (std::vector<std::string>{"served:beta|https://news.example/today",
                                      "served:alpha|https://news.example/later",
                                      "served:alpha|https://news.example/tomorrow"}));
}

// The service's "pick" carries the window's whole input, made from its own catalog and settings,
// and `linkferry open --service-picker` (where `linkferry-open` hands a pick over) shows the
// window from it and sends the answer back to the service, which opens the browser chosen.
TEST(OpenThroughTheWindow, TheServicesPickCarriesWhatTheWindowShows) {
  RecorderDesktop desktop;
  desktop.folder().write("data/rules.json", R"({"version": 1, "rules": [
      {"name": "Ask for news", "match": {"host": "news.example"},
       "action": {"prompt": [{"browser": "alpha"}, {"browser": "beta"}]}}]})");
  desktop.folder().write("data/settings.json", R"({"pickerColumns": 2, "pickerVisibleCount": 6})");
  const std::unique_ptr<Child> service = startService(desktop);
  if (HasFailure()) return;

  const std::string link = "https://news.example/today";
  auto connection = ServiceClient::Connection::open(desktop.environment());
  ASSERT_TRUE(connection);
  const ClickOutcome outcome = ClickOutcome::fromServiceAnswer(connection->exchange(
      ServiceClient::clickRequest(link, false, false, std::nullopt, desktop.environment()),
      ServiceClient::kClickTimeout));
  ASSERT_EQ(outcome.status, "pick");
  ASSERT_TRUE(outcome.pickerInput);
  const PickerProtocol::Input input =
      PickerProtocol::Input::fromJson(JsonReader(*outcome.pickerInput, "outcome"));
  EXPECT_EQ(input.request.id.string(), (*outcome.picker)["id"].get<std::string>());
  EXPECT_EQ(input.labels, (std::vector<std::string>{"alpha browser", "beta browser"}));
  EXPECT_EQ(input.columns, 2);
  EXPECT_EQ(input.visibleCount, 6);
  ASSERT_LT(input.defaultScope, input.scopes.size());
  EXPECT_EQ(input.scopes[input.defaultScope].id, "domain");
  EXPECT_FALSE(input.durations.empty());

  const std::unique_ptr<Child> handedOver =
      desktop.open({"--service-picker", Json::encodeCompact(outcome.toJson()), link});
  xdotool({"search", "--sync", "--onlyvisible", "--classname", "^linkferry-picker$"});
  xdotool({"key", "2"});
  auto [output, status] = handedOver->finish();
  EXPECT_EQ(status, 0) << output << handedOver->errorText();
  EXPECT_NE(output.find("picked in beta browser"), std::string::npos) << output;
  EXPECT_EQ(desktop.launched(1), std::vector<std::string>{"served:beta|" + link});
}


// `linkferry serve` for `desktop` on its display: it keeps a warm picker, whose trace (the
// service's own standard error) says when it drew. Fails the test when the picker is not ready.
std::unique_ptr<Child> startWarmService(const RecorderDesktop& desktop) {
  std::map<std::string, std::string> serviceEnvironment = desktop.environment();
  serviceEnvironment["RECORDER_TAG"] = "served:";
  serviceEnvironment["LINKFERRY_PICKER_TRACE"] = "1";
  auto service = std::make_unique<Child>(testing::linkferryProgram().string(),
                                         std::vector<std::string>{"serve"}, serviceEnvironment, "");
  return service;
}

// The service's "warmPicker" status once `accepted` holds for it (or the last seen after 60
// seconds).
JsonValue awaitWarmPicker(const RecorderDesktop& desktop,
                          const std::function<bool(const JsonValue&)>& accepted) {
  JsonValue picker;
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (std::chrono::steady_clock::now() < deadline) {
    if (auto connection = ServiceClient::Connection::open(desktop.environment())) {
      try {
        picker = connection->exchange({{"request", "status"}}, 5s).value("warmPicker", JsonValue());
      } catch (const std::exception&) {
      }
    }
    if (picker.is_object() && accepted(picker)) return picker;
    std::this_thread::sleep_for(25ms);
  }
  ADD_FAILURE() << "the warm picker never got there: " << picker.dump();
  return picker;
}

bool ready(const JsonValue& picker) { return picker.value("state", "") == "ready"; }

// `linkferry-open LINK` as the desktop runs it for a click (standard input no terminal), in
// `environment`; a window of its own (today's path) traces to `trace` when given.
std::unique_ptr<Child> clickOpen(const std::string& link,
                                 std::map<std::string, std::string> environment,
                                 const std::optional<std::filesystem::path>& trace = std::nullopt) {
  if (trace) environment["LINKFERRY_PICKER_TRACE"] = trace->string();
  return std::make_unique<Child>((testing::binaryDirectory() / "cli/linkferry-open").string(),
                                 std::vector<std::string>{link}, environment, "");
}

// Waits for a line starting with `prefix` in a trace file a window writes.
bool tracedInFile(const std::filesystem::path& trace, std::string_view prefix) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream file(trace);
    for (std::string line; std::getline(file, line);) {
      if (line.starts_with(prefix)) return true;
    }
    std::this_thread::sleep_for(25ms);
  }
  return false;
}

// The picker window shown, found by its class as a window manager's rule finds it.
std::string visiblePicker() {
  const std::string found =
      xdotool({"search", "--sync", "--onlyvisible", "--classname", "^linkferry-picker$"});
  return found.substr(0, found.find('\n'));
}

constexpr const char* kAskForNews = R"({"version": 1, "rules": [
    {"name": "Ask for news", "match": {"host": "news.example"},
     "action": {"prompt": [{"browser": "alpha"}, {"browser": "beta"}]}}]})";

// A service with a display keeps a picker window ready: a click shows it (no `linkferry open`
// in between), a key press opens the chosen browser through the service, `linkferry-open` prints
// the final outcome, and a fresh picker replaces the used one. A click from another display
// shows a window of its own, which looks the same; the warm picker stays unused meanwhile.
TEST(WarmPicker, AClickShowsTheWarmWindowAndAKeyPressOpensTheChosenBrowser) {
  RecorderDesktop desktop;
  desktop.folder().write("data/rules.json", kAskForNews);
  const std::unique_ptr<Child> service = startWarmService(desktop);
  const JsonValue first = awaitWarmPicker(desktop, ready);
  if (HasFailure()) return;

  const std::string link = "https://news.example/today";
  const std::unique_ptr<Child> click = clickOpen(link, desktop.environment());
  ASSERT_FALSE(service->waitFor("shown ").empty()) << service->errorText();
  // The browsers' icons come right after the first frame.
  ASSERT_FALSE(service->waitFor("icons ").empty()) << service->errorText();
  const Shot warm = screenshot(visiblePicker(), "warm-picker");
  // The warm window is the same dialog as the cold one, named for the link's host.
  EXPECT_EQ(property(visiblePicker(), "_NET_WM_NAME"), "\"Open news.example with…\"");
  EXPECT_EQ(property(visiblePicker(), "_NET_WM_WINDOW_TYPE"), "_NET_WM_WINDOW_TYPE_DIALOG");
  xdotool({"key", "2"});
  auto [output, status] = click->finish();
  EXPECT_EQ(status, 0) << output << click->errorText();
  EXPECT_NE(output.find("picked in beta browser"), std::string::npos) << output;
  EXPECT_EQ(desktop.launched(1), std::vector<std::string>{"served:beta|" + link});

  const JsonValue next = awaitWarmPicker(desktop, [&](const JsonValue& picker) {
    return ready(picker) && picker["pid"] != first["pid"];
  });
  EXPECT_EQ(next["starts"], 2);

  // ":N.0" is the same X server to the window, another display to the service.
  std::map<std::string, std::string> otherDisplay = desktop.environment();
  otherDisplay["DISPLAY"] = XServer::display + ".0";
  const auto trace = desktop.folder().path() / "cold-trace";
  const std::unique_ptr<Child> cold = clickOpen(link, otherDisplay, trace);
  ASSERT_TRUE(tracedInFile(trace, "ready"));
  const Shot coldShot = screenshot(visiblePicker(), "cold-picker");
  EXPECT_EQ(warm.width, coldShot.width);
  EXPECT_EQ(warm.height, coldShot.height);
  EXPECT_GT(warm.colours, 64) << "the warm window looks blank";
  Process::Options options;
  options.captureOutput = true;
  const auto shots = testing::binaryDirectory() / "test-output/picker";
  const Process::Result compared =
      Process::run("/usr/bin/compare", {"-metric", "AE", (shots / "warm-picker.png").string(),
                                        (shots / "cold-picker.png").string(), "null:"},
                   options);
  // Icons drawn after the first frame may differ from those drawn with it in an edge's shading;
  // anything more (a shifted row, a missing part) changes thousands of pixels.
  const int differing = std::atoi(std::string(Text::trimmed(compared.standardError)).c_str());
  EXPECT_LT(differing, warm.width * warm.height / 200) << compared.standardError;
  xdotool({"key", "1"});
  auto [coldOutput, coldStatus] = cold->finish();
  EXPECT_EQ(coldStatus, 0) << coldOutput << cold->errorText();
  EXPECT_NE(coldOutput.find("picked in alpha browser"), std::string::npos) << coldOutput;
  const JsonValue unused = awaitWarmPicker(desktop, ready);
  EXPECT_EQ(unused["pid"], next["pid"]);
  EXPECT_EQ(unused["starts"], 2);
}

// A warm picker killed while it shows a click: that click shows a window of its own (today's
// path) and is answered there; the service starts a new warm picker, which shows the next click.
TEST(WarmPicker, AKilledWarmPickerIsReplacedAndItsClickShowsAWindowOfItsOwn) {
  RecorderDesktop desktop;
  desktop.folder().write("data/rules.json", kAskForNews);
  const std::unique_ptr<Child> service = startWarmService(desktop);
  const JsonValue first = awaitWarmPicker(desktop, ready);
  if (HasFailure()) return;

  const auto trace = desktop.folder().path() / "cold-trace";
  const std::unique_ptr<Child> click =
      clickOpen("https://news.example/killed", desktop.environment(), trace);
  ASSERT_FALSE(service->waitFor("shown ").empty()) << service->errorText();
  ASSERT_EQ(::kill(static_cast<pid_t>(first["pid"].get<int>()), SIGKILL), 0);
  ASSERT_TRUE(tracedInFile(trace, "ready")) << "no window of its own";
  xdotool({"key", "1"});
  auto [output, status] = click->finish();
  EXPECT_EQ(status, 0) << output << click->errorText();
  EXPECT_NE(output.find("picked in alpha browser"), std::string::npos) << output;

  awaitWarmPicker(desktop, [&](const JsonValue& picker) {
    return ready(picker) && picker["pid"] != first["pid"];
  });
  const std::unique_ptr<Child> next = clickOpen("https://news.example/next", desktop.environment());
  ASSERT_FALSE(service->waitFor("shown ").empty()) << service->errorText();
  xdotool({"key", "2"});
  auto [nextOutput, nextStatus] = next->finish();
  EXPECT_EQ(nextStatus, 0) << nextOutput;
  EXPECT_NE(nextOutput.find("picked in beta browser"), std::string::npos) << nextOutput;
  EXPECT_EQ(desktop.launched(2),
            (std::vector<std::string>{"served:alpha|https://news.example/killed",
                                      "served:beta|https://news.example/next"}));
}

}  // namespace
}  // namespace linkferry
