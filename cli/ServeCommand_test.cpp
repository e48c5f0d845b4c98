// `linkferry serve` with `linkferry open` as a user runs them: real processes in temporary XDG
// folders, browsers that are scripts recording their command lines, and clients that speak the
// socket's protocol directly for what a command cannot do (stay silent, send garbage, click from
// twenty connections at once).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <algorithm>
#include <chrono>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "fixtures/BrowserDatabases.h"
#include "fixtures/RealBrowsers.h"
#include "fixtures/StoredLog.h"
#include "foundation/Dates.h"
#include "foundation/Files.h"
#include "foundation/Json.h"
#include "foundation/Process.h"
#include "launching/HelperSocket.h"
#include "support/TestSupport.h"

extern char** environ;

namespace linkferry {
namespace {

using testing::TemporaryDirectory;

// The environment of a user whose folders are all below `root`, with the service's socket in
// `root`/`runtime`/linkferry.
std::map<std::string, std::string> userEnvironment(const std::filesystem::path& root,
                                                   const std::string& runtime = "run") {
  return {{"HOME", (root / "home").string()},
          {"LINKFERRY_HOME", (root / "data").string()},
          {"XDG_DATA_HOME", (root / "share").string()},
          {"XDG_DATA_DIRS", (root / "none").string()},
          {"XDG_CONFIG_HOME", (root / "home/.config").string()},
          {"XDG_RUNTIME_DIR", (root / runtime).string()},
          {"PATH", "/usr/bin:/bin"}};
}

// A client speaking the socket's protocol: one JSON line out, one in.
class RawClient {
 public:
  explicit RawClient(const std::filesystem::path& socket) : m_fd(HelperSocket::connect(socket)) {}
  ~RawClient() {
    if (m_fd >= 0) ::close(m_fd);
  }
  bool connected() const { return m_fd >= 0; }
  void sendText(const std::string& text) {
    (void)::send(m_fd, text.data(), text.size(), MSG_NOSIGNAL);
  }
  // The next answer line; empty when the connection ended first.
  std::string line() {
    for (;;) {
      if (auto newline = m_buffer.find('\n'); newline != std::string::npos) {
        std::string line = m_buffer.substr(0, newline);
        m_buffer.erase(0, newline + 1);
        return line;
      }
      char bytes[65536];
      const ssize_t got = ::read(m_fd, bytes, sizeof(bytes));
      if (got <= 0) return {};
      m_buffer.append(bytes, static_cast<std::size_t>(got));
    }
  }
  JsonValue ask(const JsonValue& request) {
    sendText(request.dump() + "\n");
    const std::string answer = line();
    return answer.empty() ? JsonValue() : JsonValue::parse(answer);
  }

 private:
  int m_fd;
  std::string m_buffer;
};

// Starts `linkferry serve` with `arguments`, its standard error in `errors`, and waits until it
// answers on `socket`.
pid_t startService(const std::map<std::string, std::string>& environment,
                   const std::filesystem::path& socket, const std::filesystem::path& errors,
                   const std::vector<std::string>& arguments = {},
                   const std::filesystem::path& program = testing::linkferryProgram()) {
  std::vector<std::string> variables;
  for (const auto& [name, value] : environment) variables.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);
  std::vector<std::string> words{program.string(), "serve"};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0600);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  // Generous: a loaded machine may take a while to start it; the tests that use it fail on their
  // own when it never answers.
  for (int attempt = 0; attempt < 2400; ++attempt) {
    RawClient client(socket);
    if (client.connected() && client.ask({{"request", "status"}}).value("ok", false)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return pid;
}

class Service : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { shared = new Shared(); }
  static void TearDownTestSuite() {
    delete shared;
    shared = nullptr;
  }

  // The folders, browsers and service every test of this program shares: two browsers "alpha"
  // and "beta" that record "<name>|<XDG_ACTIVATION_TOKEN>|<arguments joined by |>".
  struct Shared {
    TemporaryDirectory folder;
    pid_t service = -1;

    Shared() {
      for (const std::string name : {"alpha", "beta"}) {
        const auto path = folder.write(
            "bin/" + name, "#!/bin/sh\nIFS='|'\necho \"" + name + "|$XDG_ACTIVATION_TOKEN|$*\" >> '" +
                               (folder.path() / "launched.txt").string() + "'\n");
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
      }
      JsonValue list = JsonValue::array();
      for (const std::string name : {"alpha", "beta"}) {
        list.push_back({{"id", name},
                        {"name", name + " browser"},
                        {"family", name == "alpha" ? "firefox" : "chromium"},
                        {"appPath", (folder.path() / "bin" / name).string()}});
      }
      folder.write("data/browsers.json", list.dump());
      folder.write("data/settings.json", "{}");
      std::filesystem::create_directories(folder.path() / "run");
      service = start(folder.path() / "serve.err");
    }
    ~Shared() { stop(service); }

    std::map<std::string, std::string> environment(bool withService = true) const {
      return userEnvironment(folder.path(), withService ? "run" : "elsewhere");
    }
    std::filesystem::path socket() const { return folder.path() / "run/linkferry/router.sock"; }

    pid_t start(const std::filesystem::path& errors) const {
      return startService(environment(), socket(), errors);
    }
    static void stop(pid_t pid, int signal = SIGTERM) {
      if (pid <= 0) return;
      ::kill(pid, signal);
      int status = 0;
      ::waitpid(pid, &status, 0);
    }
  };
  static Shared* shared;

  Process::Result run(const std::vector<std::string>& arguments, bool withService = true,
                      const std::filesystem::path& program = testing::linkferryProgram()) const {
    Process::Options options;
    options.captureOutput = true;
    options.environment = shared->environment(withService);
    options.environment->emplace("XDG_ACTIVATION_TOKEN", "token-of-this-click");
    return Process::run(program.string(), arguments, options);
  }
  // The desktop's program for a click, with `linkferry open`'s arguments.
  Process::Result quickOpen(const std::vector<std::string>& arguments, bool withService = true) const {
    return run(arguments, withService, testing::linkferryProgram().parent_path() / "linkferry-open");
  }

  void writeRules(const std::string& rules) const {
    // A new inode and a new size each time, as an editor's save gives.
    Files::writeAtomically(shared->folder.path() / "data/rules.json",
                           R"({"version": 1, "rules": [)" + rules + "]}");
  }

  std::vector<std::string> launched(std::size_t count) const {
    std::vector<std::string> lines;
    for (int attempt = 0; attempt < 600; ++attempt) {  // up to 30 s
      lines.clear();
      std::ifstream file(shared->folder.path() / "launched.txt");
      for (std::string line; std::getline(file, line);) lines.push_back(line);
      if (lines.size() >= count) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return lines;
  }

  JsonValue log() const { return testing::storedLog(shared->folder.path() / "data/log.json"); }
};
Service::Shared* Service::shared = nullptr;

const char* const kWorkRule = R"({"name": "Work", "match": {"host": "*.work.example"},
                                   "action": {"open": {"browser": "beta"}, "newWindow": true}})";

TEST_F(Service, RoutesLikeTheCommandAloneAndLaunchesWithTheClicksActivationToken) {
  writeRules(kWorkRule);
  // The same decision, target, reason and trace, whichever process routes.
  // (The picker's entry id and the stages' timings differ by nature.)
  const auto comparable = [](const std::string& output) {
    JsonValue json = JsonValue::parse(output);
    for (JsonValue& result : json) {
      for (JsonValue& line : result["trace"]) {
        std::string text = line.get<std::string>();
        if (const auto timing = text.rfind(" ("); timing != std::string::npos && text.ends_with(" ms)")) {
          text.resize(timing);
        }
        line = text;
      }
      if (result.contains("picker")) result["picker"].erase("id");
      if (result.contains("pickerInput")) result["pickerInput"].erase("id");
    }
    return json;
  };
  // linkferry-open answers the same, by itself through the service, and by handing over to
  // `linkferry open` for the picker (no terminal, no display: the request is printed) and when no
  // service answers.
  for (const std::string link : {"https://app.work.example/x?utm_source=mail&id=7",
                                  "https://other.example/"}) {
    SCOPED_TRACE(link);
    auto served = run({"open", "--json", "--dry-run", link});
    auto alone = run({"open", "--json", "--dry-run", link}, false);
    EXPECT_EQ(served.exitStatus, alone.exitStatus) << served.standardError;
    EXPECT_EQ(comparable(served.standardOutput), comparable(alone.standardOutput));
    for (bool withService : {true, false}) {
      auto quick = quickOpen({"--dry-run", "--json", link}, withService);
      EXPECT_EQ(quick.exitStatus, alone.exitStatus) << quick.standardError;
      EXPECT_EQ(comparable(quick.standardOutput), comparable(alone.standardOutput));
    }
  }
  auto picked = run({"open", "--json", "--pick", "--dry-run", "https://other.example/"});
  auto quickPicked = quickOpen({"--pick", "--json", "--dry-run", "https://other.example/"});
  EXPECT_EQ(picked.exitStatus, 3) << picked.standardError;
  EXPECT_EQ(quickPicked.exitStatus, 3) << quickPicked.standardError;
  EXPECT_EQ(comparable(quickPicked.standardOutput), comparable(picked.standardOutput));
  // What it does not handle itself is `linkferry open`'s to explain.
  auto typo = quickOpen({"--dry-rn", "https://other.example/"});
  EXPECT_EQ(typo.exitStatus, 1);
  EXPECT_NE(typo.standardError.find("--dry-rn"), std::string::npos) << typo.standardError;
  const std::size_t before = log().size();

  auto opened = run({"open", "https://app.work.example/y"});
  EXPECT_EQ(opened.exitStatus, 0) << opened.standardError;
  EXPECT_NE(opened.standardOutput.find("opened in beta browser: rule “Work”"), std::string::npos)
      << opened.standardOutput;
  auto quickOpened = quickOpen({"https://app.work.example/z"});
  EXPECT_EQ(quickOpened.exitStatus, 0) << quickOpened.standardError;
  EXPECT_TRUE(quickOpened.standardOutput.starts_with(
      "https://app.work.example/z\n  → opened in beta browser: rule “Work”\n"))
      << quickOpened.standardOutput;
  EXPECT_EQ(launched(2), (std::vector<std::string>{
                             "beta|token-of-this-click|--new-window|https://app.work.example/y",
                             "beta|token-of-this-click|--new-window|https://app.work.example/z"}));
  // The service wrote each click to the log before it answered.
  const JsonValue entries = log();
  ASSERT_EQ(entries.size(), before + 2);
  EXPECT_EQ(entries.back()["url"], "https://app.work.example/z");
  EXPECT_EQ(entries.back()["status"], "routed");
}

// An app named with terminal commands in it (--source-app comes from whatever ran the click)
// reaches the printed picker request as JSON escapes, from both programs.
// The desktop hands a double-clicked file over as a path relative to where it runs
// `linkferry-open`: the path is made absolute there, not in the service.
TEST_F(Service, AFilesPathIsOpenedThroughTheServiceAsItsFileLinkAndRefusedLinksAreOneLine) {
  writeRules(R"({"name": "Local", "match": {"scheme": "file"},
                 "action": {"open": {"browser": "alpha"}}})");
  const std::size_t before = launched(0).size();
  shared->folder.write("pages/caf\xC3\xA9 report #1.html", "<p>hi</p>");
  Process::Options options;
  options.captureOutput = true;
  options.environment = shared->environment();
  options.workingDirectory = (shared->folder.path() / "home").string();
  std::filesystem::create_directories(*options.workingDirectory);
  const auto quickOpenProgram = testing::linkferryProgram().parent_path() / "linkferry-open";
  auto opened =
      Process::run(quickOpenProgram.string(), {"../pages/caf\xC3\xA9 report #1.html"}, options);
  EXPECT_EQ(opened.exitStatus, 0) << opened.standardError << opened.standardOutput;
  const std::vector<std::string> lines = launched(before + 1);
  ASSERT_EQ(lines.size(), before + 1);
  const std::string link =
      "file://" + (shared->folder.path() / "pages").string() + "/caf%C3%A9%20report%20%231.html";
  EXPECT_EQ(lines.back(), "alpha||--new-tab|" + link);
  for (const std::string link : {"https://", "javascript:alert(1)", "data:,x"}) {
    auto refused = quickOpen({link});
    EXPECT_EQ(refused.exitStatus, 1) << link;
    EXPECT_EQ(std::count(refused.standardError.begin(), refused.standardError.end(), '\n'), 1)
        << refused.standardError;
  }
}

TEST_F(Service, ASourceAppWithControlsIsPrintedEscaped) {
  const std::string forged = "mail\x1b]0;owned\x07\xc2\x9b" "2J\u202E";
  const std::vector<std::string> arguments{"--pick", "--dry-run", "--source-app", forged,
                                           "https://other.example/"};
  for (const bool json : {false, true}) {
    std::vector<std::string> asked = arguments;
    if (json) asked.insert(asked.begin(), "--json");
    std::vector<std::string> withOpen{"open"};
    withOpen.insert(withOpen.end(), asked.begin(), asked.end());
    for (const Process::Result& result : {run(withOpen), quickOpen(asked)}) {
      const std::string& output = result.standardOutput;
      if (json) {
        // A script gets the request, the source app as it came.
        EXPECT_EQ(result.exitStatus, 3) << result.standardError;
        EXPECT_EQ(JsonValue::parse(output)[0]["picker"]["sourceApp"], forged);
        continue;
      }
      // Nobody to ask: opened in the first choice, and nothing raw reaches the terminal.
      EXPECT_EQ(result.exitStatus, 0) << result.standardError;
      for (const std::string raw : {"\x1b", "\x07", "\xc2\x9b", "\u202E"}) {
        EXPECT_EQ(output.find(raw), std::string::npos) << output;
        EXPECT_EQ(result.standardError.find(raw), std::string::npos) << result.standardError;
      }
    }
  }
}

TEST_F(Service, FollowsRulesSavedOnDiskAndKeepsTheLastGoodOnesWhenTheFileBreaks) {
  writeRules(kWorkRule);
  auto first = run({"open", "--json", "--dry-run", "https://mail.example/"});
  EXPECT_EQ(first.standardOutput.find("rule “Mail”"), std::string::npos) << first.standardOutput;

  writeRules(R"({"name": "Mail", "match": {"host": "mail.example"},
                 "action": {"open": {"browser": "beta"}}})");
  auto changed = run({"open", "--json", "--dry-run", "https://mail.example/"});
  EXPECT_NE(changed.standardOutput.find("rule “Mail”"), std::string::npos) << changed.standardOutput;

  Files::writeAtomically(shared->folder.path() / "data/rules.json", "{\"version\": 1, \"rules\": [");
  auto broken = run({"open", "--json", "--dry-run", "https://mail.example/"});
  EXPECT_EQ(broken.exitStatus, 0) << broken.standardError;
  EXPECT_NE(broken.standardOutput.find("rule “Mail”"), std::string::npos) << broken.standardOutput;
  EXPECT_NE(Files::read(shared->folder.path() / "serve.err").find("keeping the last good rules"),
            std::string::npos);
  auto doctor = run({"doctor", "--json"});
  bool reported = false;
  const JsonValue checks = JsonValue::parse(doctor.standardOutput);
  for (const JsonValue& check : checks["checks"]) {
    if (check["check"] == "service") {
      reported = !check["ok"].get<bool>() &&
                 check["message"].get<std::string>().find("rules.json") != std::string::npos;
    }
  }
  EXPECT_TRUE(reported) << doctor.standardOutput;
  writeRules(kWorkRule);
}

TEST_F(Service, AnswersEveryMalformedRequestAndServesClicksWhileTwentyClientsStaySilent) {
  writeRules(kWorkRule);  // each test may run in a process of its own
  std::vector<std::unique_ptr<RawClient>> silent;
  for (int i = 0; i < 20; ++i) silent.push_back(std::make_unique<RawClient>(shared->socket()));
  // Half a request, never finished, on one of them.
  silent.front()->sendText(R"({"request": "cli)");

  RawClient client(shared->socket());
  for (const std::string garbage : {"not json", "[1, 2]", R"({"request": "fly"})",
                                    R"({"request": "click", "url": "no scheme"})",
                                    R"({"request": "choose", "id": "nobody", "index": 0})"}) {
    client.sendText(garbage + "\n");
    const JsonValue answer = JsonValue::parse(client.line());
    EXPECT_FALSE(answer["ok"].get<bool>()) << garbage;
    EXPECT_TRUE(answer["error"].is_string()) << garbage;
  }
  // The same connection still works, and so do commands.
  EXPECT_TRUE(client.ask({{"request", "status"}})["ok"].get<bool>());
  auto opened = run({"open", "--json", "--dry-run", "https://app.work.example/"});
  EXPECT_EQ(opened.exitStatus, 0) << opened.standardError << opened.standardOutput;

  // An overlong line is answered and the connection closed.
  RawClient flooder(shared->socket());
  flooder.sendText(std::string(300 * 1024, 'x'));
  EXPECT_NE(flooder.line().find("longer than"), std::string::npos);
  EXPECT_EQ(flooder.line(), "");
}

TEST_F(Service, AClickIsAnsweredWhileAnotherProgramHoldsFiveHundredConnections) {
  writeRules(kWorkRule);
  // More than the service keeps open and than its listen queue once held: its own oldest
  // connections are closed as they come, and nobody waits to connect.
  std::vector<std::unique_ptr<RawClient>> idle;
  for (int i = 0; i < 500; ++i) {
    idle.push_back(std::make_unique<RawClient>(shared->socket()));
    if (i % 2 == 0) idle.back()->sendText("{");
  }
  RawClient client(shared->socket());
  EXPECT_TRUE(client.ask({{"request", "status"}}).value("ok", false));
  auto quick = quickOpen({"--dry-run", "https://app.work.example/held"});
  EXPECT_EQ(quick.exitStatus, 0) << quick.standardError;
  EXPECT_NE(quick.standardOutput.find("rule “Work”"), std::string::npos) << quick.standardOutput;
  // The oldest was closed for room.
  EXPECT_EQ(idle.front()->line(), "");
}

std::size_t openDescriptors(pid_t pid) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    ++count;
  }
  return count;
}

long residentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
  }
  return -1;
}

TEST_F(Service, AnswersAThousandClicksFromTwentyClientsAndLosesNone) {
  writeRules(kWorkRule);
  // Warm up, then measure the service as it stands.
  RawClient(shared->socket()).ask({{"request", "status"}});
  const std::size_t descriptorsBefore = openDescriptors(shared->service);
  const long residentBefore = residentKiB(shared->service);
  const std::size_t logBefore = log().size();

  std::atomic<int> answered{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < 20; ++c) {
    clients.emplace_back([c, &answered] {
      RawClient client(shared->socket());
      for (int i = 0; i < 50; ++i) {
        const JsonValue answer = client.ask(
            {{"request", "click"},
             {"url", "https://load.work.example/" + std::to_string(c) + "/" + std::to_string(i)},
             {"dryRun", true}});
        if (answer.value("ok", false) && answer["outcome"]["status"] == "opened") ++answered;
      }
    });
  }
  for (auto& client : clients) client.join();
  EXPECT_EQ(answered.load(), 1000);

  std::set<std::string> logged;
  for (const JsonValue& entry : log()) logged.insert(entry["url"].get<std::string>());
  EXPECT_EQ(log().size(), logBefore + 1000);
  for (int c = 0; c < 20; ++c) {
    for (int i = 0; i < 50; ++i) {
      EXPECT_TRUE(logged.contains("https://load.work.example/" + std::to_string(c) + "/" +
                                  std::to_string(i)));
    }
  }
  // Every connection is closed again; the figures go to the test's output for the record.
  std::size_t descriptorsAfter = 0;
  for (int attempt = 0; attempt < 600; ++attempt) {  // up to 30 s
    descriptorsAfter = openDescriptors(shared->service);
    if (descriptorsAfter <= descriptorsBefore) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const long residentAfter = residentKiB(shared->service);
  std::cout << "[ figures  ] open descriptors " << descriptorsBefore << " -> " << descriptorsAfter
            << ", resident " << residentBefore << " KiB -> " << residentAfter << " KiB\n";
  EXPECT_LE(descriptorsAfter, descriptorsBefore);
}

TEST_F(Service, EveryAcknowledgedClickIsInTheLogAfterTheServiceIsKilled) {
  // Its own service: this one dies. The shared one is stopped first (one per socket).
  Shared::stop(shared->service);
  shared->service = shared->start(shared->folder.path() / "killed.err");
  std::vector<std::string> acknowledged;  // the clicker's until it is joined
  std::atomic<std::size_t> count{0};
  std::atomic<bool> stop{false};
  std::thread clicker([&] {
    RawClient client(shared->socket());
    for (int i = 0; !stop; ++i) {
      const std::string url = "https://killed.example/" + std::to_string(i);
      const JsonValue answer = client.ask({{"request", "click"}, {"url", url}, {"dryRun", true}});
      if (!answer.is_object() || !answer.value("ok", false)) break;
      acknowledged.push_back(url);
      ++count;
    }
  });
  for (int attempt = 0; attempt < 1200 && count < 20; ++attempt) {  // up to 30 s
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  Shared::stop(shared->service, SIGKILL);
  shared->service = -1;
  stop = true;
  clicker.join();
  ASSERT_GE(acknowledged.size(), 1u);
  std::set<std::string> logged;
  for (const JsonValue& entry : log()) logged.insert(entry["url"].get<std::string>());
  for (const std::string& url : acknowledged) EXPECT_TRUE(logged.contains(url)) << url;
}

// The service over what a real Chromium wrote: a visit to a new site, committed to the History of
// (a copy of) its profile the way Chromium commits one, reaches the service's index after the
// refresh delay, with no restart.
TEST(ServiceOverRealBrowserData, RebuildsItsIndexAfterTheBrowserVisitsANewSite) {
  namespace fs = std::filesystem;
  const auto& data = testing::realBrowserData();
  if (auto why = data.unavailable("chromium")) GTEST_SKIP() << *why;
  ASSERT_TRUE(data.ok("chromium")) << data.failure("chromium");

  TemporaryDirectory folder;
  // The browser's own files only: its lock and socket links stay behind.
  const fs::path original = data.manifest["chromium"]["userDataDir"].get<std::string>();
  const fs::path userData = folder.path() / "chromium";
  for (const auto& entry : fs::recursive_directory_iterator(original)) {
    const fs::path copy = userData / fs::relative(entry.path(), original);
    if (entry.is_symlink()) continue;
    if (entry.is_directory()) fs::create_directories(copy);
    if (entry.is_regular_file()) fs::copy_file(entry.path(), copy);
  }
  JsonValue browsers = JsonValue::array();
  browsers.push_back({{"id", "chromium-copy"},
                      {"name", "Chromium copy"},
                      {"family", "chromium"},
                      {"appPath", "/bin/true"},
                      {"dataDir", userData.string()}});
  folder.write("data/browsers.json", browsers.dump());
  fs::create_directories(folder.path() / "run");
  const std::map<std::string, std::string> environment = userEnvironment(folder.path());
  // Stopped however the test ends: a service left running would hold the test's output open.
  struct Stopped {
    pid_t pid;
    ~Stopped() {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
    }
  } service{startService(environment, folder.path() / "run/linkferry/router.sock",
                         folder.path() / "serve.err", {"--refresh-delay", "0.3"})};
  const auto history = [&](const std::string& domain) {
    Process::Options options;
    options.captureOutput = true;
    options.environment = environment;
    const auto result = Process::run(testing::linkferryProgram().string(),
                                     {"index", "--json", "--domain", domain}, options);
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    const JsonValue json = JsonValue::parse(result.standardOutput);
    return json["domains"].contains(domain) ? json["domains"][domain]["history"] : JsonValue();
  };
  // The service read what the browser wrote, and knows nothing of the new site yet.
  const JsonValue known = history("example.com");
  ASSERT_TRUE(known.is_array() && !known.empty()) << Files::read(folder.path() / "serve.err");
  EXPECT_EQ(known[0]["target"]["browser"], "chromium-copy");
  EXPECT_TRUE(history("newly-visited.example").is_null());

  {
    // One committed transaction adding the page and its visit, as the browser records one.
    fixtures::FixtureDatabase database(userData / "Default" / "History");
    const auto now = std::to_string(fixtures::chromiumTime(Date::now().secondsSince1970));
    database.exec("BEGIN");
    database.exec(
        "INSERT INTO urls (url, title, visit_count, typed_count, last_visit_time, hidden) "
        "VALUES ('https://www.newly-visited.example/start', 'Start', 1, 0, " + now + ", 0)");
    database.exec("INSERT INTO visits (url, visit_time, transition) VALUES (last_insert_rowid(), " +
                  now + ", 805306368)");
    database.exec("COMMIT");
  }
  JsonValue fresh;
  for (int attempt = 0; attempt < 600 && fresh.is_null(); ++attempt) {  // up to 60 s
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    fresh = history("newly-visited.example");
  }
  ASSERT_TRUE(fresh.is_array()) << "the service's index never showed the new site; its errors:\n"
                                << Files::read(folder.path() / "serve.err");
  ASSERT_EQ(fresh.size(), 1u) << fresh.dump();
  EXPECT_EQ(fresh[0]["target"], JsonValue::parse(R"({"browser": "chromium-copy", "profile": "Default"})"));
  EXPECT_EQ(fresh[0]["visits"], 1);
  // The sites the browser had visited are still there after the rebuild.
  EXPECT_EQ(history("example.com"), known);
}

// Whether process `pid` ends within `limit` (woken by its end, not by polling).
bool exitsWithin(pid_t pid, std::chrono::seconds limit) {
  const int handle = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (handle < 0) return errno == ESRCH;
  pollfd entry{handle, POLLIN, 0};
  const bool exited =
      ::poll(&entry, 1, static_cast<int>(std::chrono::milliseconds(limit).count())) == 1;
  ::close(handle);
  return exited;
}

// Services of one build replaced by another's, in folders of their own (the shared service keeps
// its socket): a browser "alpha" that records its arguments, and a rule sending *.work.example
// to it.
class ServiceUpgrade : public ::testing::Test {
 protected:
  TemporaryDirectory folder;

  ServiceUpgrade() {
    const auto alpha =
        folder.write("bin/alpha", "#!/bin/sh\nIFS='|'\necho \"alpha|$*\" >> '" +
                                      (folder.path() / "launched.txt").string() + "'\n");
    std::filesystem::permissions(alpha, std::filesystem::perms::owner_all);
    JsonValue list = JsonValue::array();
    list.push_back(
        {{"id", "alpha"}, {"name", "alpha browser"}, {"family", "firefox"}, {"appPath", alpha}});
    folder.write("data/browsers.json", list.dump());
    folder.write("data/settings.json", "{}");
    folder.write("data/rules.json",
                 R"({"version": 1, "rules": [{"name": "Work", "match": {"host": "*.work.example"},
                                        "action": {"open": {"browser": "alpha"}}}]})");
    std::filesystem::create_directories(folder.path() / "run");
  }
  ~ServiceUpgrade() override {
    // Whatever service a test left answering goes with its folders.
    RawClient client(socket());
    if (client.connected()) {
      const int pid = client.ask({{"request", "status"}}).value("pid", 0);
      client.ask({{"request", "quit"}});
      if (pid > 0) (void)exitsWithin(pid, std::chrono::seconds(30));
    }
  }

  std::map<std::string, std::string> environment() const {
    return userEnvironment(folder.path());
  }
  std::filesystem::path socket() const { return folder.path() / "run/linkferry/router.sock"; }

  Process::Result run(const std::vector<std::string>& arguments,
                      const std::filesystem::path& program = testing::linkferryProgram()) const {
    Process::Options options;
    options.captureOutput = true;
    options.environment = environment();
    return Process::run(program.string(), arguments, options);
  }
  // `linkferry serve --status --json`; null when no service answers.
  JsonValue status() const {
    const Process::Result result = run({"serve", "--status", "--json"});
    return result.exitStatus == 0 ? JsonValue::parse(result.standardOutput) : JsonValue();
  }
  std::string launched() const {
    return Files::readIfExists(folder.path() / "launched.txt").value_or("");
  }
};

TEST_F(ServiceUpgrade, AClickFromAnotherBuildReplacesTheRunningServiceAndTheNewOneAnswers) {
  // Another build: the same program at another path, which is part of what names a build.
  const auto old = folder.path() / "old/linkferry";
  std::filesystem::create_directories(old.parent_path());
  std::filesystem::copy_file(testing::linkferryProgram(), old);
  const pid_t oldService =
      startService(environment(), socket(), folder.path() / "old.err", {}, old);
  const JsonValue before = status();
  ASSERT_TRUE(before.is_object());
  EXPECT_EQ(before["program"], std::filesystem::canonical(old).string());
  // The release `--version` names ("linkferry X.Y.Z").
  const std::string version = run({"--version"}).standardOutput;
  EXPECT_EQ("linkferry " + before["version"].get<std::string>() + "\n", version);
  EXPECT_FALSE(before["buildId"].get<std::string>().empty());
  EXPECT_FALSE(before["sameBuild"].get<bool>());
  EXPECT_FALSE(before["socketActivated"].get<bool>());

  // The desktop's click program hands the click to `linkferry open`, which replaces the service.
  const Process::Result click = run({"https://docs.work.example/a"},
                                    testing::linkferryProgram().parent_path() / "linkferry-open");
  EXPECT_EQ(click.exitStatus, 0) << click.standardError;
  EXPECT_NE(click.standardError.find("replaced " + version.substr(0, version.size() - 1) + " at " +
                                     std::filesystem::canonical(old).string()),
            std::string::npos)
      << click.standardError;
  EXPECT_NE(launched().find("alpha|--new-tab|https://docs.work.example/a"), std::string::npos)
      << launched();

  EXPECT_TRUE(exitsWithin(oldService, std::chrono::seconds(60)));
  int exitStatus = -1;
  ASSERT_EQ(::waitpid(oldService, &exitStatus, 0), oldService);
  EXPECT_TRUE(WIFEXITED(exitStatus) && WEXITSTATUS(exitStatus) == 0) << exitStatus;
  EXPECT_NE(Files::read(folder.path() / "old.err").find("asked to quit"), std::string::npos);

  const JsonValue after = status();
  ASSERT_TRUE(after.is_object());
  EXPECT_EQ(after["program"], std::filesystem::canonical(testing::linkferryProgram()).string());
  EXPECT_TRUE(after["sameBuild"].get<bool>());
  EXPECT_NE(after["pid"], oldService);

  // The service of this build is kept: no second replacement, no word about it.
  const Process::Result again = run({"open", "https://docs.work.example/b"});
  EXPECT_EQ(again.exitStatus, 0) << again.standardError;
  EXPECT_EQ(again.standardError, "");
  EXPECT_EQ(status()["pid"], after["pid"]);
  EXPECT_NE(launched().find("alpha|--new-tab|https://docs.work.example/b"), std::string::npos)
      << launched();
}

TEST_F(ServiceUpgrade, UninstallStopsTheRunningService) {
  const pid_t service = startService(environment(), socket(), folder.path() / "serve.err");
  ASSERT_TRUE(status().is_object());
  const Process::Result result = run({"uninstall"});
  EXPECT_EQ(result.exitStatus, 0) << result.standardError;
  EXPECT_NE(result.standardOutput.find("stopped linkferry serve (process " +
                                       std::to_string(service) + ")"),
            std::string::npos)
      << result.standardOutput;
  EXPECT_TRUE(exitsWithin(service, std::chrono::seconds(60)));
  ::waitpid(service, nullptr, 0);
  const Process::Result none = run({"serve", "--status"});
  EXPECT_EQ(none.exitStatus, 1);
  EXPECT_NE(none.standardError.find("no linkferry serve answers"), std::string::npos);
}

// Another program on the service's socket, speaking just enough of the protocol: its status names
// `identity` (null: a service from before builds were named); "quit" is refused, or with `quits`
// answered and its connection ended while the socket keeps listening, as one the service manager
// holds does; clicks are answered as opened, and counted.
class FakeService {
 public:
  FakeService(const std::filesystem::path& socket, std::string dataFolder, JsonValue identity,
              bool quits)
      : m_listener(HelperSocket::listen(socket, m_lock)),
        m_dataFolder(std::move(dataFolder)),
        m_identity(std::move(identity)),
        m_quits(quits) {
    EXPECT_GE(m_listener, 0);
    EXPECT_EQ(::pipe2(m_stop, O_CLOEXEC), 0);
    m_thread = std::thread([this] { serve(); });
  }
  ~FakeService() {
    (void)::write(m_stop[1], "x", 1);
    m_thread.join();
    for (int descriptor : {m_listener, m_lock, m_stop[0], m_stop[1]}) ::close(descriptor);
  }
  int quitRequests() const { return m_quitRequests; }
  int clicks() const { return m_clicks; }

 private:
  void serve() {
    for (;;) {
      pollfd entries[2] = {{m_stop[0], POLLIN, 0}, {m_listener, POLLIN, 0}};
      if (::poll(entries, 2, -1) < 0 || entries[0].revents != 0) return;
      const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection >= 0) answer(connection);
    }
  }
  // The client waits for each answer, so one connection at a time is enough.
  void answer(int connection) {
    std::string buffer;
    char bytes[4096];
    for (ssize_t got; (got = ::read(connection, bytes, sizeof(bytes))) > 0;) {
      buffer.append(bytes, static_cast<std::size_t>(got));
      for (std::size_t newline; (newline = buffer.find('\n')) != std::string::npos;) {
        const JsonValue request = JsonValue::parse(buffer.substr(0, newline));
        buffer.erase(0, newline + 1);
        JsonValue reply = {{"ok", false}, {"error", "unknown request"}};
        const std::string kind = request.value("request", "");
        if (kind == "status") {
          reply = {{"ok", true}, {"pid", ::getpid()}, {"dataFolder", m_dataFolder}};
          if (m_identity.is_object()) reply.update(m_identity);
        } else if (kind == "quit") {
          ++m_quitRequests;
          if (m_quits) reply = {{"ok", true}};
        } else if (kind == "click") {
          ++m_clicks;
          reply = {
              {"ok", true},
              {"outcome",
               {{"url", request["url"]}, {"status", "opened"}, {"trace", JsonValue::array()}}}};
        }
        const std::string line = reply.dump() + "\n";
        (void)::send(connection, line.data(), line.size(), MSG_NOSIGNAL);
        if (kind == "quit" && m_quits) {
          ::close(connection);
          return;
        }
      }
    }
    ::close(connection);
  }

  int m_lock = -1;
  int m_listener;
  std::string m_dataFolder;
  JsonValue m_identity;
  bool m_quits;
  int m_stop[2] = {-1, -1};
  std::atomic<int> m_quitRequests{0};
  std::atomic<int> m_clicks{0};
  std::thread m_thread;
};

// Regression guard for the fallback that ends a service too old to know "quit": only a program
// named linkferry is ever sent a signal, never whatever process answers on the socket (here this
// test itself), and the click is routed in the client's own process instead.
TEST_F(ServiceUpgrade, AServiceThatDoesNotQuitIsNeitherUsedNorKilledWhenItIsNoLinkferryProgram) {
  FakeService fake(socket(), (folder.path() / "data").string(), JsonValue(), false);
  const Process::Result result = run({"open", "https://docs.work.example/c"});
  EXPECT_EQ(result.exitStatus, 0) << result.standardError;
  EXPECT_NE(
      result.standardError.find("an older linkferry serve (process " + std::to_string(::getpid()) +
                                "), not this program, and did "
                                "not stop; routing here"),
      std::string::npos)
      << result.standardError;
  EXPECT_EQ(fake.quitRequests(), 1);
  EXPECT_EQ(fake.clicks(), 0);
  EXPECT_NE(launched().find("alpha|--new-tab|https://docs.work.example/c"), std::string::npos)
      << launched();
}

// A socket whose next service is of another build too (its manager starts that one again): it is
// asked to quit once, then used, and the client says so; never a loop of replacements.
TEST_F(ServiceUpgrade, WhenTheNewServiceIsOfAnotherBuildTooItIsUsedAfterOneReplacement) {
  FakeService fake(
      socket(), (folder.path() / "data").string(),
      {{"version", "0.0.9"}, {"program", "/opt/elsewhere/linkferry"}, {"buildId", "00"}}, true);
  const Process::Result result = run({"open", "https://docs.work.example/d"});
  EXPECT_EQ(result.exitStatus, 0) << result.standardError;
  EXPECT_EQ(fake.quitRequests(), 1);
  EXPECT_EQ(fake.clicks(), 1);
  EXPECT_NE(result.standardError.find("the service that answers is linkferry 0.0.9 at "
                                      "/opt/elsewhere/linkferry (build 00), not this program"),
            std::string::npos)
      << result.standardError;
  EXPECT_EQ(launched(), "");
}

// Where systemd holds the socket for a program at another path, quitting would only have that
// program started again, click after click: it is left running and the click is routed here.
TEST_F(ServiceUpgrade, ASocketSystemdHoldsForAProgramElsewhereIsLeftAloneAndTheClickRoutedHere) {
  FakeService fake(socket(), (folder.path() / "data").string(),
                   {{"version", "0.0.9"},
                    {"program", "/usr/bin/linkferry-elsewhere"},
                    {"buildId", "00"},
                    {"socketActivated", true}},
                   true);
  const Process::Result result = run({"open", "https://docs.work.example/e"});
  EXPECT_EQ(result.exitStatus, 0) << result.standardError;
  EXPECT_EQ(fake.quitRequests(), 0);
  EXPECT_EQ(fake.clicks(), 0);
  EXPECT_NE(result.standardError.find("routing here"), std::string::npos) << result.standardError;
  EXPECT_NE(launched().find("alpha|--new-tab|https://docs.work.example/e"), std::string::npos)
      << launched();
}

}  // namespace
}  // namespace linkferry
