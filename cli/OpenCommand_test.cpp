// `linkferry open` and `linkferry test` as a user runs them: real processes in a temporary home,
// data folder and XDG folders, with browsers that are scripts recording their command lines.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "fixtures/BrowserDatabases.h"
#include "fixtures/StoredLog.h"
#include "foundation/Dates.h"
#include "foundation/Files.h"
#include "foundation/Json.h"
#include "foundation/Process.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

using testing::TemporaryDirectory;

class OpenCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    // Two browsers: "alpha" (Firefox family, one profile "main" with history), "beta" (Chromium
    // family), and "broken", which fails to start a window.
    recorder("alpha", 0);
    recorder("beta", 0);
    recorder("broken", 1);
    folder.write("home/ff/profiles.ini", "[Profile0]\nName=main\nIsRelative=1\nPath=main\n");
    const double now = Date::now().secondsSince1970;
    fixtures::writeFirefoxPlaces(folder.path() / "home/ff/main/places.sqlite",
                                 {{"https://news.example/a", fixtures::firefoxTime(now - 3600), 4}});
    folder.write("data/browsers.json", browsers({"alpha", "beta"}));
    folder.write("data/settings.json", R"({"alwaysAsk": true, "checkLinkSafety": true})");
  }

  // A browser program that appends "<name>|<arguments joined by |>" to launched.txt, or that
  // complains and fails when `status` is not 0.
  void recorder(const std::string& name, int status) {
    const auto path = folder.write(
        "bin/" + name, "#!/bin/sh\nIFS='|'\necho \"" + name + "|$*\" >> '" +
                           (folder.path() / "launched.txt").string() + "'\n" +
                           (status ? "echo 'no display' >&2\nexit 1\n" : ""));
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  }

  std::string browsers(const std::vector<std::string>& names) {
    JsonValue list = JsonValue::array();
    for (const std::string& name : names) {
      JsonValue browser = {{"id", name},
                           {"name", name + " browser"},
                           {"family", name == "alpha" ? "firefox" : "chromium"},
                           {"appPath", (folder.path() / "bin" / name).string()}};
      if (name == "alpha") browser["dataDir"] = (folder.path() / "home/ff").string();
      list.push_back(browser);
    }
    return list.dump();
  }

  std::map<std::string, std::string> environment() const {
    return {{"HOME", (folder.path() / "home").string()},
            {"LINKFERRY_HOME", (folder.path() / "data").string()},
            {"XDG_DATA_HOME", (folder.path() / "share").string()},
            {"XDG_DATA_DIRS", (folder.path() / "none").string()},
            {"XDG_CONFIG_HOME", (folder.path() / "home/.config").string()},
            {"PATH", "/usr/bin:/bin"}};
  }

  std::string linkferry() const { return (testing::binaryDirectory() / "cli/linkferry").string(); }

  Process::Result run(const std::vector<std::string>& arguments) const {
    Process::Options options;
    options.captureOutput = true;
    options.environment = environment();
    return Process::run(linkferry(), arguments, options);
  }

  // Runs `linkferry open URL` on a terminal and types `answer` at the picker's question.
  Process::Result answerOnTerminal(const std::string& url, const std::string& answer) const {
    Process::Options options;
    options.captureOutput = true;
    options.environment = environment();
    return Process::run(
        (testing::sourceDirectory() / "tests/fixtures/pty_answer.py").string(),
        {"empty to cancel:", answer, linkferry(), "open", url}, options);
  }

  // The recorded launches, one per line; a detached browser may write a moment after the command
  // returned, so wait for `count` lines (30 seconds at most, for a loaded machine).
  std::vector<std::string> launched(std::size_t count) const {
    std::vector<std::string> lines;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
      lines.clear();
      std::ifstream file(folder.path() / "launched.txt");
      for (std::string line; std::getline(file, line);) lines.push_back(line);
      if (lines.size() >= count) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return lines;
  }

  JsonValue log() const { return testing::storedLog(folder.path() / "data/log.json"); }

  void writeRules(const std::string& rules) {
    folder.write("data/rules.json", R"({"version": 1, "rules": [)" + rules + "]}");
  }

  TemporaryDirectory folder;
};

TEST_F(OpenCommand, ARuleDecidesAndExactlyItsCommandRunsThenAnIgnoreRuleOpensNothing) {
  writeRules(R"({"name": "Work", "match": {"host": "*.work.example"},
                 "action": {"open": {"browser": "beta"}, "newWindow": true}},
                {"name": "Pixels", "match": {"host": "pixel.example"}, "action": {"ignore": true}})");
  auto opened = run({"open", "https://app.work.example/x?utm_source=mail&id=7"});
  EXPECT_EQ(opened.exitStatus, 0) << opened.standardError << opened.standardOutput;
  EXPECT_NE(opened.standardOutput.find("opened in beta browser: rule “Work”"), std::string::npos)
      << opened.standardOutput;
  EXPECT_EQ(launched(1),
            std::vector<std::string>{"beta|--new-window|https://app.work.example/x?id=7"});

  auto ignored = run({"open", "--json", "https://pixel.example/p.gif"});
  EXPECT_EQ(ignored.exitStatus, 0) << ignored.standardError;
  EXPECT_EQ(JsonValue::parse(ignored.standardOutput)[0]["status"], "ignored");
  // An ignore rule starts nothing, so the one line of the first click is all there is.
  EXPECT_EQ(launched(1).size(), 1u);

  const JsonValue entries = log();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0]["status"], "routed");
  EXPECT_EQ(entries[0]["url"], "https://app.work.example/x?id=7");
  EXPECT_EQ(entries[0]["target"], JsonValue::parse(R"({"browser": "beta"})"));
  const std::vector<std::string> trace = entries[0]["trace"];
  ASSERT_GE(trace.size(), 2u);
  EXPECT_EQ(trace[0], "[tracking] removed: utm_source");
  EXPECT_TRUE(trace[1].starts_with("[rules] decided: rule “Work”")) << trace[1];
  EXPECT_EQ(entries[1]["status"], "ignored");
}

TEST_F(OpenCommand, AHistoryGuessAsksAndRememberingTheSecondChoiceDecidesTheNextClick) {
  auto asked = run({"open", "--json", "https://news.example/today"});
  EXPECT_EQ(asked.exitStatus, 3) << asked.standardError;
  const JsonValue picker = JsonValue::parse(asked.standardOutput)[0]["picker"];
  ASSERT_EQ(picker["candidates"].size(), 2u);
  EXPECT_EQ(picker["candidates"][0]["target"],
            JsonValue::parse(R"({"browser": "alpha", "profile": "main"})"));
  EXPECT_EQ(picker["candidates"][0]["weight"], 1.0);
  EXPECT_EQ(picker["candidates"][1]["label"], "beta browser");
  EXPECT_EQ(log()[0]["status"], "pending");
  EXPECT_TRUE(launched(0).empty());

  // The user's own file, as written by hand: remembering adds a rule and changes nothing else.
  const std::string mine =
      R"(  {"match": {"host": "other.example"}, "action": {"open": {"browser": "BETA"}}, "name": "Mine"})";
  const std::string hand = "{\"rules\": [\n" + mine + "\n ], \"version\": 1}";
  folder.write("data/rules.json", hand);

  auto chosen = answerOnTerminal("https://news.example/today", "r2");
  EXPECT_EQ(chosen.exitStatus, 0) << chosen.standardOutput;
  const std::string saved = *Files::readIfExists(folder.path() / "data/rules.json");
  EXPECT_TRUE(saved.starts_with("{\"rules\": [\n  {\n    \"action\": {\n      \"open\"")) << saved;
  EXPECT_TRUE(saved.ends_with("\n  },\n" + mine + "\n ], \"version\": 1}")) << saved;
  EXPECT_NE(chosen.standardOutput.find(" 2  beta browser"), std::string::npos)
      << chosen.standardOutput;
  EXPECT_EQ(launched(1), std::vector<std::string>{"beta|https://news.example/today"});
  const JsonValue entries = log();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1]["status"], "picked");
  const std::vector<std::string> trace = entries[1]["trace"];
  EXPECT_NE(std::find(trace.begin(), trace.end(),
                      "rule created: Always open news.example in beta browser"),
            trace.end());

  auto next = run({"open", "https://news.example/tomorrow"});
  EXPECT_EQ(next.exitStatus, 0) << next.standardError << next.standardOutput;
  EXPECT_EQ(launched(2).back(), "beta|https://news.example/tomorrow");
}

TEST_F(OpenCommand, AFailingBrowserLeadsToThePickerWithTheReason) {
  folder.write("data/browsers.json", browsers({"alpha", "beta", "broken"}));
  writeRules(R"({"name": "Docs", "match": {"host": "docs.example"},
                 "action": {"open": {"browser": "broken"}}})");
  auto result = run({"open", "--json", "https://docs.example/"});
  EXPECT_EQ(result.exitStatus, 3) << result.standardError;
  const JsonValue picker = JsonValue::parse(result.standardOutput)[0]["picker"];
  EXPECT_EQ(picker["note"], "Could not open in broken browser: exited with status 1: no display");
  EXPECT_EQ(picker["candidates"].size(), 3u);
  const JsonValue entry = log()[0];
  EXPECT_EQ(entry["status"], "pending");
  EXPECT_EQ(entry["trace"].back(), "launch failed: exited with status 1: no display");
}

TEST_F(OpenCommand, ABrokenRulesFileStillRoutesAndIsReported) {
  folder.write("data/rules.json", "{\"version\": 1, \"rules\": [");
  auto result = run({"open", "--json", "--pick", "https://docs.example/"});
  EXPECT_EQ(result.exitStatus, 3);
  EXPECT_NE(result.standardError.find("rules.json"), std::string::npos) << result.standardError;
  // The picker says before the choice that it cannot be remembered, and why.
  const std::string note = JsonValue::parse(result.standardOutput)[0]["picker"]["note"];
  EXPECT_TRUE(note.starts_with("A choice cannot be remembered now: ")) << note;
  EXPECT_NE(note.find("rules.json"), std::string::npos) << note;

  // Remembering a choice would write over the broken file: refused, the link still opens, and
  // the terminal says so.
  auto chosen = answerOnTerminal("https://docs.example/", "r1");
  EXPECT_EQ(chosen.exitStatus, 0) << chosen.standardOutput;
  EXPECT_NE(chosen.standardOutput.find("The choice was not remembered: "), std::string::npos)
      << chosen.standardOutput;
  EXPECT_EQ(launched(1).size(), 1u);
  const std::vector<std::string> trace = log()[1]["trace"];
  EXPECT_TRUE(std::any_of(trace.begin(), trace.end(), [](const std::string& line) {
    return line.starts_with("rule not saved: ");
  }));
}

TEST_F(OpenCommand, NobodyToAskOpensTheBestCandidateAndTheLogSaysWhyButJsonCallersChoose) {
  // A history guess while always asking: the picker's turn, with no terminal and no display.
  auto json = run({"open", "--json", "https://news.example/today"});
  EXPECT_EQ(json.exitStatus, 3) << json.standardError;
  EXPECT_EQ(log()[0]["status"], "pending");

  auto opened = run({"open", "https://news.example/today"});
  EXPECT_EQ(opened.exitStatus, 0) << opened.standardError << opened.standardOutput;
  EXPECT_EQ(launched(1), std::vector<std::string>{"alpha|-P|main|--new-tab|https://news.example/today"});
  const JsonValue entry = log()[1];
  EXPECT_EQ(entry["status"], "routed");
  EXPECT_EQ(entry["reason"], "nobody to ask: best suggestion");
  const std::vector<std::string> trace = entry["trace"];
  EXPECT_NE(std::find(trace.begin(), trace.end(),
                      "[unasked] no terminal and no display to show the picker on: opened in "
                      "alpha browser \u2014 main without asking"),
            trace.end())
      << entry.dump();
}

TEST_F(OpenCommand, NobodyToAskNeverOpensALinkTheSafetyCheckWarnsOf) {
  folder.write("data/settings.json", R"({"alwaysAsk": false, "checkLinkSafety": true})");
  writeRules(R"({"name": "Docs", "match": {"host": "docs.example"},
                 "action": {"open": {"browser": "alpha"}}})");
  auto result = run({"open", "https://docs.example/?next=javascript:alert(document.cookie)"});
  EXPECT_EQ(result.exitStatus, 0) << result.standardError;
  EXPECT_NE(result.standardOutput.find("cancelled: not opened: the link looks dangerous"),
            std::string::npos)
      << result.standardOutput;
  EXPECT_EQ(launched(0).size(), 0u);
  const JsonValue entry = log()[0];
  EXPECT_EQ(entry["status"], "cancelled");
  EXPECT_EQ(entry["trace"].back(),
            "[unasked] no terminal and no display to show the picker on: not opened: the link "
            "looks dangerous and nobody could confirm it");

  // An international name alone is a notice: it is still opened.
  auto notice = run({"open", "https://docs.xn--bcher-kva.example/"});
  EXPECT_EQ(notice.exitStatus, 0) << notice.standardError;
  EXPECT_EQ(log()[1]["status"], "routed") << log()[1].dump();
}

TEST_F(OpenCommand, NobodyToAskTriesTheNextCandidateWhenABrowserFails) {
  folder.write("data/browsers.json", browsers({"broken", "beta"}));
  auto opened = run({"open", "--pick", "https://docs.example/"});
  EXPECT_EQ(opened.exitStatus, 0) << opened.standardError << opened.standardOutput;
  EXPECT_EQ(launched(2), (std::vector<std::string>{"broken|https://docs.example/",
                                                   "beta|https://docs.example/"}));
  const JsonValue entry = log()[0];
  EXPECT_EQ(entry["status"], "routed");
  EXPECT_EQ(entry["target"], JsonValue::parse(R"({"browser": "beta"})"));
  const std::vector<std::string> trace = entry["trace"];
  EXPECT_NE(std::find(trace.begin(), trace.end(),
                      "[unasked] launch failed in broken browser: exited with status 1: no display"),
            trace.end())
      << entry.dump();
}

TEST_F(OpenCommand, ALocalFileNoRulePlacesOpensInTheFirstChoiceAsWritten) {
  folder.write("data/settings.json", R"({"alwaysAsk": false, "forceHTTPS": true})");
  folder.write("pages/report.html", "<p>hi</p>");
  // The query and fragment are the page's own: no tracker cleaning for a local file.
  const std::string link =
      "file://" + (folder.path() / "pages/report.html").string() + "?utm_source=x&tab=2#top";
  auto opened = run({"open", link});
  EXPECT_EQ(opened.exitStatus, 0) << opened.standardError << opened.standardOutput;
  EXPECT_EQ(launched(1), std::vector<std::string>{"alpha|-P|main|--new-tab|" + link});
  const JsonValue entry = log()[0];
  EXPECT_EQ(entry["status"], "routed");
  EXPECT_EQ(entry["url"], link);
  const std::vector<std::string> trace = entry["trace"];
  EXPECT_NE(std::find(trace.begin(), trace.end(),
                      "[file] no rule placed this local file: opened in the first choice"),
            trace.end())
      << entry.dump();

  // Asked for, the picker still comes.
  auto picked = run({"open", "--json", "--pick", link});
  EXPECT_EQ(picked.exitStatus, 3) << picked.standardError;
}

TEST_F(OpenCommand, TestShowsTheDecisionTraceAndPlanWithoutLaunchingOrLogging) {
  writeRules(R"({"name": "Work", "match": {"host": "*.work.example"},
                 "action": {"open": {"browser": "beta"}, "newWindow": true}})");
  auto result = run({"test", "--json", "https://www.google.com/url?q=https://app.work.example/"});
  ASSERT_EQ(result.exitStatus, 0) << result.standardError;
  const JsonValue json = JsonValue::parse(result.standardOutput);
  EXPECT_EQ(json["url"], "https://app.work.example/");
  EXPECT_EQ(json["trace"][0]["stage"], "prepare");
  EXPECT_EQ(json["decision"]["reason"], "rule “Work”");
  EXPECT_EQ(json["plan"]["arguments"],
            JsonValue::parse(R"(["--new-window", "https://app.work.example/"])"));
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "data/log.json"));
  EXPECT_TRUE(launched(0).empty());

  // The command line is the one `open` runs: trackers removed, quoted for a shell.
  const std::string link = "https://app.work.example/p?a=1&b='2'&utm_source=mail";
  auto shown = run({"test", link});
  ASSERT_EQ(shown.exitStatus, 0) << shown.standardError;
  const std::size_t at = shown.standardOutput.find("\ncommand: ");
  ASSERT_NE(at, std::string::npos) << shown.standardOutput;
  const std::string line =
      shown.standardOutput.substr(at + 1, shown.standardOutput.find('\n', at + 1) - at - 1);
  const JsonValue plan = JsonValue::parse(run({"test", "--json", link}).standardOutput)["plan"];
  const std::string program = plan["executable"];
  EXPECT_EQ(line, "command: " + program +
                      " --new-window 'https://app.work.example/p?a=1&b='\\''2'\\'''");
  EXPECT_TRUE(launched(0).empty());
  auto opened = run({"open", link});
  ASSERT_EQ(opened.exitStatus, 0) << opened.standardError;
  EXPECT_EQ(launched(1),
            (std::vector<std::string>{"beta|--new-window|https://app.work.example/p?a=1&b='2'"}));
  // The shell gives the program exactly the arguments of the plan.
  Process::Options options;
  options.captureOutput = true;
  auto echoed = Process::run("/bin/sh", {"-c", "printf '%s\\n' " + line.substr(line.find(' ', 9) + 1)},
                             options);
  EXPECT_EQ(echoed.standardOutput, "--new-window\nhttps://app.work.example/p?a=1&b='2'\n");
}

TEST_F(OpenCommand, AnUnparsableLinkSaysWhatIsWrongInOneLine) {
  for (const auto& [text, problem] : std::vector<std::pair<std::string, std::string>>{
           {"http://exa mple.com", "the host contains a space"},
           {"http://[::1/", "unclosed [ in the host"},
           {"https://a.example:80a/", "the port \"80a\" is not a number"}}) {
    for (const char* command : {"open", "test"}) {
      auto result = run({command, text});
      EXPECT_EQ(result.exitStatus, 1);
      EXPECT_EQ(result.standardError, "linkferry: not a link: " + problem + ": " + text + "\n");
    }
  }
  EXPECT_TRUE(launched(0).empty());
}

TEST_F(OpenCommand, APathOrFileLinkOpensAsItsFileLinkAndMissingFilesAreNamed) {
  writeRules(R"({"name": "Local", "match": {"scheme": "file"},
                 "action": {"open": {"browser": "beta"}}})");
  folder.write("pages/caf\xC3\xA9 report #1.html", "<p>hi</p>");
  const std::string link = "file://" + (folder.path() / "pages").string() +
                           "/caf%C3%A9%20report%20%231.html";
  Process::Options options;
  options.captureOutput = true;
  options.environment = environment();
  // Relative to the command's own working folder.
  options.workingDirectory = (folder.path() / "home").string();
  auto relative = Process::run(linkferry(), {"open", "../pages/caf\xC3\xA9 report #1.html"}, options);
  EXPECT_EQ(relative.exitStatus, 0) << relative.standardError << relative.standardOutput;
  EXPECT_NE(relative.standardOutput.find("opened in beta browser: rule “Local”"), std::string::npos)
      << relative.standardOutput;
  auto given = run({"open", link});
  EXPECT_EQ(given.exitStatus, 0) << given.standardError << given.standardOutput;
  EXPECT_EQ(launched(2), (std::vector<std::string>{"beta|" + link, "beta|" + link}));

  auto missing = Process::run(linkferry(), {"open", "gone.html"}, options);
  EXPECT_EQ(missing.exitStatus, 1);
  EXPECT_EQ(missing.standardError,
            "linkferry: no such file: " + (folder.path() / "home/gone.html").string() + "\n");
  auto missingLink = run({"open", "file:///nowhere/gone.html"});
  EXPECT_EQ(missingLink.exitStatus, 1);
  EXPECT_EQ(missingLink.standardError, "linkferry: no such file: /nowhere/gone.html\n");
}

TEST_F(OpenCommand, LinksThatOpenNowhereOrRunScriptsAreRefusedAndNeverLogged) {
  for (const std::string link : {"https://", "http:", "JavaScript:alert(1)", "data:text/html,x"}) {
    SCOPED_TRACE(link);
    auto refused = run({"open", link});
    EXPECT_EQ(refused.exitStatus, 1);
    EXPECT_TRUE(refused.standardError.starts_with("linkferry: refused, a ")) << refused.standardError;
    EXPECT_EQ(refused.standardOutput, "");
  }
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "data/log.json"));
}

}  // namespace
}  // namespace linkferry
