#include "HelperDelegate.h"

#include <gtest/gtest.h>

#include <map>

#include "launching/HelperPolicy.h"
#include "launching/HelperProtocol.h"
#include "launching/LaunchError.h"

namespace linkferry {
namespace {

using namespace std::chrono_literals;

// Timers on a hand-moved clock; background tasks and main-thread tasks queued and run on demand.
class FakeScheduler : public HelperScheduler {
 public:
  std::chrono::milliseconds now{0};
  std::map<Token, std::pair<std::chrono::milliseconds, std::function<void()>>> timers;
  std::vector<std::function<void()>> backgroundTasks;
  std::vector<std::function<void()>> mainTasks;
  bool terminated = false;
  Token next = 1;

  Token schedule(std::chrono::milliseconds delay, std::function<void()> action) override {
    timers[next] = {now + delay, std::move(action)};
    return next++;
  }
  void cancel(Token token) override { timers.erase(token); }
  void background(std::function<void()> task) override { backgroundTasks.push_back(task); }
  void onMain(std::function<void()> task) override { mainTasks.push_back(task); }
  void terminate() override { terminated = true; }

  void advance(std::chrono::milliseconds by) {
    now += by;
    for (bool fired = true; fired;) {
      fired = false;
      for (auto it = timers.begin(); it != timers.end(); ++it) {
        if (it->second.first <= now) {
          auto action = std::move(it->second.second);
          timers.erase(it);
          action();
          fired = true;
          break;
        }
      }
    }
  }
  void drain() {
    for (auto& task : std::exchange(backgroundTasks, {})) task();
    for (auto& task : std::exchange(mainTasks, {})) task();
  }
};

class FakeSenderCheck : public SenderCheck {
 public:
  bool trusted = true;
  bool isLinkFerry(const SenderIdentity&) const override { return trusted; }
  bool isInstalledApp(const std::string&) const override { return true; }
};

class FakeWorkspace : public HelperWorkspace {
 public:
  std::map<std::string, std::vector<std::string>> declaring;  // scheme → identifiers
  std::map<std::string, std::string> locations;
  std::vector<std::pair<std::string, std::string>> changes;
  std::optional<std::string> failure;

  std::vector<std::string> applicationsToOpen(const URL& probe) override {
    return declaring[probe.scheme().value_or("")];
  }
  std::optional<std::string> applicationLocation(const std::string& identifier) override {
    const auto found = locations.find(identifier);
    if (found == locations.end()) return std::nullopt;
    return found->second;
  }
  void setDefaultApplication(const std::string& location, const std::string& scheme) override {
    if (failure) throw std::runtime_error(*failure);
    changes.emplace_back(location, scheme);
  }
};

class FakeAlerts : public HelperAlerts {
 public:
  std::vector<std::pair<std::string, std::string>> shown;
  void alert(const std::string& title, const std::string& message) override {
    shown.emplace_back(title, message);
  }
};

// Fails the plans whose first argument is listed, with the given status.
class FakeRunner : public LaunchRunner {
 public:
  std::map<std::string, int> failures;
  std::vector<LaunchPlan> ran;
  void run(const LaunchPlan& plan) override {
    ran.push_back(plan);
    const auto found = failures.find(plan.arguments.empty() ? "" : plan.arguments[0]);
    if (found != failures.end()) throw LaunchError::failed(found->second);
  }
};

class Request : public HelperRequest {
 public:
  explicit Request(std::optional<std::string> text) : text(std::move(text)) {}
  std::optional<std::string> text;
  std::vector<HelperReply> replies;
  std::optional<std::string> directObject() const override { return text; }
  SenderIdentity sender() const override { return {{}, 42, 1000}; }
  void reply(const HelperReply& r) override { replies.push_back(r); }
};

// Stands in for the platform's policy: only "/ok" runs, fallbacks included.
void validateFake(const LaunchPlan& plan) {
  if (plan.executable != "/ok") throw HelperPolicy::Rejection::executable();
  for (const auto& fallback : plan.fallbacks) validateFake(fallback);
}

struct HelperDelegateTest : ::testing::Test {
  FakeScheduler scheduler;
  FakeSenderCheck senderCheck;
  FakeWorkspace workspace;
  FakeAlerts alerts;
  FakeRunner runner;
  std::vector<std::string> log;
  HelperDelegate delegate{
      HelperServices{senderCheck, workspace, alerts, scheduler, runner, validateFake,
                     [this](const std::string& line) { log.push_back(line); }, "own.app"}};

  std::shared_ptr<Request> send(std::optional<std::string> text) {
    auto request = std::make_shared<Request>(std::move(text));
    delegate.handle(request);
    return request;
  }
  std::shared_ptr<Request> sendPlan(const LaunchPlan& plan) {
    return send(HelperProtocol::url(plan).absoluteString());
  }
};

LaunchPlan planNamed(const std::string& name, std::vector<LaunchPlan> fallbacks = {}) {
  return LaunchPlan("/ok", {name}, {}, std::move(fallbacks));
}

TEST_F(HelperDelegateTest, QuitsAfterTheIdleIntervalRestartedByEveryRequest) {
  delegate.didFinishLaunching();
  scheduler.advance(119s);
  senderCheck.trusted = false;
  send("linkferry-helper://run?plan=x");  // refused, still restarts the timer
  send(std::nullopt);                     // no text at all, likewise
  scheduler.advance(119s);
  EXPECT_FALSE(scheduler.terminated);
  scheduler.advance(1s);
  EXPECT_TRUE(scheduler.terminated);
}

TEST_F(HelperDelegateTest, WelcomeAlertOnlyWhenNoRequestCameFirst) {
  delegate.didFinishLaunching();
  scheduler.advance(999ms);
  send("https://not.a.request");
  scheduler.advance(1ms);
  EXPECT_TRUE(alerts.shown.empty());
  EXPECT_TRUE(delegate.handledAURL());

  FakeScheduler otherScheduler;
  HelperDelegate idle(HelperServices{senderCheck, workspace, alerts, otherScheduler, runner,
                                     [](const LaunchPlan&) {}, [](const std::string&) {}, "x"});
  idle.didFinishLaunching();
  otherScheduler.advance(1s);
  ASSERT_EQ(alerts.shown.size(), 1u);
  EXPECT_EQ(alerts.shown[0].first, "LinkFerry Helper is installed");
  // Reopening shows it again and leaves the timer alone.
  const auto timers = otherScheduler.timers;
  EXPECT_FALSE(idle.shouldHandleReopen());
  EXPECT_EQ(alerts.shown.size(), 2u);
  EXPECT_EQ(otherScheduler.timers.size(), timers.size());
}

TEST_F(HelperDelegateTest, RefusalsAreLoggedAndNothingRuns) {
  EXPECT_EQ(send("not a url at all")->replies[0].status, HelperReply::Status::refused);
  EXPECT_TRUE(log.empty());  // no log line for text that is no URL

  senderCheck.trusted = false;
  send(HelperProtocol::url(planNamed("a")).absoluteString());
  senderCheck.trusted = true;
  sendPlan(LaunchPlan("/bin/sh", {"-c", "id"}, {}));
  sendPlan(planNamed("a", {LaunchPlan("/bin/sh", {}, {})}));  // the policy sees the fallbacks
  scheduler.drain();
  EXPECT_TRUE(runner.ran.empty());
  EXPECT_EQ(log,
            (std::vector<std::string>{"LinkFerry Helper: request refused, not sent by LinkFerry",
                                      "LinkFerry Helper: plan refused: not a LinkFerry launch",
                                      "LinkFerry Helper: plan refused: not a LinkFerry launch"}));
}

TEST_F(HelperDelegateTest, RunsPlansInTheBackgroundWithFallbacks) {
  runner.failures = {{"primary", 1}, {"first", 2}};
  const auto request = sendPlan(planNamed("primary", {planNamed("first"), planNamed("second")}));
  EXPECT_TRUE(runner.ran.empty());  // handle returned before anything ran
  scheduler.drain();
  EXPECT_EQ(runner.ran.size(), 3u);
  EXPECT_TRUE(alerts.shown.empty());
  EXPECT_EQ(request->replies, (std::vector<HelperReply>{{HelperReply::Status::done, {}}}));

  // All fail: the alert shows the last fallback's error, on the main thread.
  runner.ran.clear();
  runner.failures["second"] = 3;
  const auto failing = sendPlan(planNamed("primary", {planNamed("first"), planNamed("second")}));
  for (auto& task : std::exchange(scheduler.backgroundTasks, {})) task();
  EXPECT_TRUE(alerts.shown.empty());
  scheduler.drain();
  ASSERT_EQ(alerts.shown.size(), 1u);
  EXPECT_EQ(alerts.shown[0], std::make_pair(std::string("LinkFerry Helper could not open the link"),
                                            LaunchError::failed(3).description()));
  EXPECT_EQ(failing->replies[0].status, HelperReply::Status::failed);

  // Nested fallbacks are not walked; without fallbacks the primary's own error is shown.
  runner.ran.clear();
  alerts.shown.clear();
  sendPlan(planNamed("primary", {planNamed("first", {planNamed("nested")})}));
  sendPlan(planNamed("second"));
  scheduler.drain();
  EXPECT_EQ(runner.ran.size(), 3u);
  ASSERT_EQ(alerts.shown.size(), 2u);
  EXPECT_EQ(alerts.shown[0].second, LaunchError::failed(2).description());
  EXPECT_EQ(alerts.shown[1].second, LaunchError::failed(3).description());
}

TEST_F(HelperDelegateTest, HandlerChanges) {
  workspace.declaring["zoommtg"] = {"us.zoom.xos"};
  workspace.locations = {{"us.zoom.xos", "/Applications/zoom.us.app"}, {"own.app", "/Own.app"}};
  send(HelperProtocol::handlerURL("zoommtg", "us.zoom.xos").absoluteString());
  send(HelperProtocol::handlerURL("ZoomMtg", "own.app").absoluteString());  // own app, undeclared
  send(HelperProtocol::handlerURL("zoommtg", "com.evil").absoluteString());
  send(HelperProtocol::handlerURL("https", "us.zoom.xos").absoluteString());
  workspace.declaring["tel"] = {"gone.app"};
  send(HelperProtocol::handlerURL("tel", "gone.app").absoluteString());  // not installed: nothing
  EXPECT_TRUE(workspace.changes.empty());  // the workspace is asked off the main thread
  scheduler.drain();
  EXPECT_EQ(workspace.changes,
            (std::vector<std::pair<std::string, std::string>>{
                {"/Applications/zoom.us.app", "zoommtg"}, {"/Own.app", "zoommtg"}}));
  EXPECT_EQ(log,
            (std::vector<std::string>{
                "LinkFerry Helper: handler change refused: not an installed app: com.evil",
                "LinkFerry Helper: handler change refused: not a link LinkFerry opens: https:"}));
  EXPECT_TRUE(alerts.shown.empty());

  workspace.failure = "permission denied";
  send(HelperProtocol::handlerURL("zoommtg", "us.zoom.xos").absoluteString());
  scheduler.drain();
  ASSERT_EQ(alerts.shown.size(), 1u);
  EXPECT_EQ(alerts.shown[0],
            std::make_pair(std::string("Could not change which app opens these links"),
                           std::string("permission denied")));
}

// A link or identifier with a line break cannot forge a second log line or reply line, and the
// line is escaped once: the log writes it as given.
TEST_F(HelperDelegateTest, RequestTextIsEscapedInLogsAndReplies) {
  const auto forged = send(
      HelperProtocol::handlerURL("zoommtg", "com.evil\nLinkFerry Helper: handler changed\x7f\u0085\\")
          .absoluteString());
  scheduler.drain();
  const std::string line =
      "LinkFerry Helper: handler change refused: not an installed app: "
      "com.evil\\x0aLinkFerry Helper: handler changed\\x7f\\u{0085}\\\\";
  EXPECT_EQ(log, std::vector<std::string>{line});
  EXPECT_EQ(forged->replies, (std::vector<HelperReply>{{HelperReply::Status::refused, line}}));
}

TEST_F(HelperDelegateTest, RequestKindsFollowTheHost) {
  // A "handler" URL carrying a plan item is no plan, and a "run" URL with handler items is no
  // handler change.
  const std::string payload = HelperProtocol::url(planNamed("a")).query().value();
  send("linkferry-helper://handler?" + payload);
  send("linkferry-helper://run?scheme=zoommtg&app=own.app");
  scheduler.drain();
  EXPECT_TRUE(runner.ran.empty());
  EXPECT_TRUE(workspace.changes.empty());
}

}  // namespace
}  // namespace linkferry
