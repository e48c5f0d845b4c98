// The warm picker's keeping: real processes standing in for `linkferry-picker --warm` (shell
// scripts speaking its protocol), so that starting, answering, dying and restarting are the real
// thing without a display. The window itself is tested with the picker (LinkferryPicker/).
#include "WarmPicker.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <vector>

#include "foundation/Files.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

using namespace std::chrono_literals;
using testing::TemporaryDirectory;

// A generous bound for what must happen at once: reached only when the code is wrong.
constexpr auto kBound = 30s;

// A picker that says it is ready, keeps the request it reads in request.json, waits for the
// test to open the "gate" FIFO when there is one, and chooses the second row in a private window.
constexpr const char* kAnswering =
    "echo ready\n"
    "IFS= read -r request\n"
    "printf '%s\\n' \"$request\" > \"$PICKER_DIR/request.json\"\n"
    "[ -p \"$PICKER_DIR/gate\" ] && cat \"$PICKER_DIR/gate\" < /dev/null > /dev/null\n"
    "echo '{\"choose\": {\"index\": 1, \"makeRule\": false, \"privateMode\": true}}'\n";

class FakePicker {
 public:
  explicit FakePicker(const std::string& body) {
    const auto program = m_folder.write("picker", "#!/bin/sh\n" + body);
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    m_options.program = program.string();
    m_options.environment = {
        {"DISPLAY", ":99"}, {"PATH", "/usr/bin:/bin"}, {"PICKER_DIR", m_folder.path().string()}};
    m_options.firstBackoff = 1ms;
  }

  WarmPicker::Options& options() { return m_options; }
  const TemporaryDirectory& folder() const { return m_folder; }
  // A FIFO the picker waits on after it read its request (see kAnswering).
  std::filesystem::path gate() const {
    const auto path = m_folder.path() / "gate";
    EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
    return path;
  }

 private:
  TemporaryDirectory m_folder;
  WarmPicker::Options m_options;
};

PickerProtocol::Input input() {
  return PickerProtocol::Input::parse(R"({"id": "7D2B3C4E-1111-4222-8333-944455556666",
      "url": "https://news.example/a", "candidates": [
        {"target": {"browser": "alpha"}, "weight": 0, "reasons": []},
        {"target": {"browser": "beta"}, "weight": 0, "reasons": []}]})",
                                      "test");
}

std::int64_t pidOf(const WarmPicker& picker) {
  return picker.status().value("pid", -1);
}

TEST(WarmPicker, ShowsTheClickWithItsFocusTokenAndStartsAFreshPickerAfterTheAnswer) {
  FakePicker fake(kAnswering);
  WarmPicker picker(fake.options());
  ASSERT_TRUE(picker.awaitReady(kBound));
  const std::int64_t first = pidOf(picker);

  const WarmPicker::Shown shown = picker.show(
      input(), {{"XDG_ACTIVATION_TOKEN", "token-1"}, {"DISPLAY", ":99"}, {"HOME", "/nowhere"}});
  ASSERT_EQ(shown.kind, WarmPicker::Shown::Kind::answered);
  ASSERT_TRUE(shown.answer.choose);
  EXPECT_EQ(shown.answer.choose->index, 1);
  EXPECT_TRUE(shown.answer.choose->privateMode);
  // Only the focus variables travel; the window is on the picker's own display.
  const PickerProtocol::WarmRequest received = PickerProtocol::WarmRequest::parse(
      Files::read(fake.folder().path() / "request.json"), "request.json");
  EXPECT_EQ(received.focus,
            (std::map<std::string, std::string>{{"XDG_ACTIVATION_TOKEN", "token-1"}}));
  EXPECT_EQ(received.input.toJson(), input().toJson());

  // A used picker is never shown again: the next click gets a new process.
  ASSERT_TRUE(picker.awaitReady(kBound));
  EXPECT_NE(pidOf(picker), first);
  EXPECT_EQ(picker.status()["starts"], 2);
}

TEST(WarmPicker, AClickWhileTheWindowIsUpIsToldItIsBusyAndStoppingLosesTheShownOne) {
  FakePicker fake(kAnswering);
  const auto gate = fake.gate();
  WarmPicker picker(fake.options());
  ASSERT_TRUE(picker.awaitReady(kBound));

  auto answered = std::async(std::launch::async, [&] { return picker.show(input(), {}); });
  // Opens once the picker waits on the gate: it has the first click's request.
  const int gateWriter = ::open(gate.c_str(), O_WRONLY);
  ASSERT_GE(gateWriter, 0);
  EXPECT_EQ(picker.show(input(), {}).kind, WarmPicker::Shown::Kind::unavailable);
  EXPECT_EQ(picker.status()["state"], "busy");

  picker.stop();
  EXPECT_EQ(answered.get().kind, WarmPicker::Shown::Kind::lost);
  ::close(gateWriter);
  EXPECT_EQ(picker.status()["state"], "stopped");
  EXPECT_FALSE(picker.status().contains("pid"));
  EXPECT_EQ(picker.show(input(), {}).kind, WarmPicker::Shown::Kind::unavailable);
}

TEST(WarmPicker, APickerThatDiesWithTheRequestLosesItAndIsReplaced) {
  FakePicker fake("echo ready\nIFS= read -r request\nkill -9 $$\n");
  WarmPicker picker(fake.options());
  ASSERT_TRUE(picker.awaitReady(kBound));
  const std::int64_t first = pidOf(picker);
  EXPECT_EQ(picker.show(input(), {}).kind, WarmPicker::Shown::Kind::lost);
  ASSERT_TRUE(picker.awaitReady(kBound));
  EXPECT_NE(pidOf(picker), first);
}

TEST(WarmPicker, AnAnswerThatIsNotOneCountsAsLost) {
  FakePicker fake("echo ready\nIFS= read -r request\necho '{\"choose\": 1}'\n");
  WarmPicker picker(fake.options());
  ASSERT_TRUE(picker.awaitReady(kBound));
  EXPECT_EQ(picker.show(input(), {}).kind, WarmPicker::Shown::Kind::lost);
}

// A picker that cannot start (no display, a broken install) is tried again ever more slowly,
// never in a loop, and clicks meanwhile show their own windows.
TEST(WarmPicker, APickerThatCrashesAtStartIsRetriedWithADoublingBackoff) {
  FakePicker fake("exit 2\n");
  std::mutex mutex;
  std::condition_variable grown;
  std::vector<std::chrono::milliseconds> delays;
  fake.options().maxBackoff = 8ms;
  fake.options().onBackoff = [&](std::chrono::milliseconds delay) {
    std::lock_guard lock(mutex);
    delays.push_back(delay);
    grown.notify_all();
  };
  WarmPicker picker(fake.options());
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(grown.wait_for(lock, kBound, [&] { return delays.size() >= 6; }));
    EXPECT_EQ(std::vector(delays.begin(), delays.begin() + 6),
              (std::vector<std::chrono::milliseconds>{1ms, 2ms, 4ms, 8ms, 8ms, 8ms}));
  }
  EXPECT_EQ(picker.show(input(), {}).kind, WarmPicker::Shown::Kind::unavailable);
}

TEST(WarmPicker, ServesClicksOnItsOwnDisplayOnly) {
  using Environment = WarmPicker::Environment;
  EXPECT_EQ(WarmPicker::displayOf({{"DISPLAY", ":0"}}), "x11::0");
  EXPECT_EQ(WarmPicker::displayOf({{"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", "wayland-1"}}),
            "wayland:wayland-1");
  EXPECT_EQ(WarmPicker::displayOf({{"DISPLAY", ""}}), std::nullopt);

  FakePicker fake(kAnswering);
  WarmPicker picker(fake.options());
  EXPECT_TRUE(picker.servesDisplayOf({{"DISPLAY", ":99"}, {"HOME", "/x"}}));
  EXPECT_FALSE(picker.servesDisplayOf({{"DISPLAY", ":1"}}));
  EXPECT_FALSE(picker.servesDisplayOf({{"DISPLAY", ":99"}, {"WAYLAND_DISPLAY", "wayland-0"}}));
  EXPECT_FALSE(picker.servesDisplayOf(Environment{}));

  fake.options().environment.erase("DISPLAY");
  WarmPicker withoutDisplay(fake.options());
  EXPECT_FALSE(withoutDisplay.awaitReady(1ms));
  EXPECT_EQ(withoutDisplay.status()["starts"], 0);
  EXPECT_FALSE(withoutDisplay.servesDisplayOf(Environment{}));
  EXPECT_EQ(withoutDisplay.show(input(), {}).kind, WarmPicker::Shown::Kind::unavailable);
}

}  // namespace
}  // namespace linkferry
