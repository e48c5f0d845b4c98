// Clicks per second that one `linkferry serve` answers for 1, 2 and 4 clients clicking at once,
// each on its own connection. The browser is a script that takes 50 ms to hand the link over and
// exit 0, as a running browser does; a service whose clicks waited for one another would answer
// the same number of clicks per second whatever the number of clients. The dry-run figures show
// the decision alone (nothing started), bound by the processor.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "launching/HelperSocket.h"

namespace {

namespace fs = std::filesystem;

constexpr int kClicksPerClient = 8;

struct Service {
  fs::path root;
  pid_t pid = -1;

  Service() {
    char pattern[] = "/tmp/linkferry-throughput-bench-XXXXXX";
    root = ::mkdtemp(pattern);
    fs::create_directories(root / "data");
    fs::create_directories(root / "run");
    const fs::path browser = root / "browser";
    std::ofstream(browser) << "#!/bin/sh\nsleep 0.05\nexit 0\n";
    ::chmod(browser.c_str(), 0755);
    std::ofstream(root / "data/browsers.json")
        << R"([{"id": "alpha", "name": "Alpha", "family": "firefox", "appPath": ")"
        << browser.string() << R"("}])";
    std::ofstream(root / "data/settings.json") << R"({"defaultBrowser": "alpha"})";
    std::ofstream(root / "data/rules.json")
        << R"({"version": 1, "rules": [{"name": "Work", "match": {"host": "*.work.example"},)"
           R"( "action": {"open": {"browser": "alpha"}}}]})";
    std::vector<std::string> environment = {
        "HOME=" + (root / "home").string(), "LINKFERRY_HOME=" + (root / "data").string(),
        "XDG_DATA_HOME=" + (root / "share").string(), "XDG_DATA_DIRS=/usr/share",
        "XDG_CONFIG_HOME=" + (root / "config").string(),
        "XDG_RUNTIME_DIR=" + (root / "run").string(), "PATH=/usr/bin:/bin"};
    std::vector<char*> envp;
    for (std::string& variable : environment) envp.push_back(variable.data());
    envp.push_back(nullptr);
    char program[] = LINKFERRY_PROGRAM;
    char serve[] = "serve";
    char* argv[] = {program, serve, nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    ::posix_spawn(&pid, program, &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    for (int attempt = 0; attempt < 400; ++attempt) {
      const int fd = connect();
      if (fd >= 0) {
        ::close(fd);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
  }
  ~Service() {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
  int connect() const { return linkferry::HelperSocket::connect(root / "run/linkferry/router.sock"); }
};

Service& service() {
  static Service instance;
  return instance;
}

// Sends `count` clicks one after another on one connection, each waiting for its answer.
void click(int fd, int count, bool dryRun) {
  const std::string request = std::string(R"({"request": "click", "url": "https://app.work.example/x", "dryRun": )") +
                              (dryRun ? "true" : "false") + "}\n";
  std::string buffer;
  char chunk[65536];
  for (int i = 0; i < count; ++i) {
    (void)::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    buffer.clear();
    while (buffer.find('\n') == std::string::npos) {
      const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
      if (got <= 0) return;
      buffer.append(chunk, static_cast<std::size_t>(got));
    }
  }
}

void clicksAtOnce(benchmark::State& state, bool dryRun) {
  const int clients = static_cast<int>(state.range(0));
  std::vector<int> connections;
  for (int i = 0; i < clients; ++i) connections.push_back(service().connect());
  for (auto _ : state) {
    std::vector<std::thread> threads;
    for (int fd : connections) threads.emplace_back(click, fd, kClicksPerClient, dryRun);
    for (std::thread& thread : threads) thread.join();
  }
  for (int fd : connections) ::close(fd);
  state.counters["clicks/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * clients * kClicksPerClient,
      benchmark::Counter::kIsRate);
}

void clicksLaunching(benchmark::State& state) { clicksAtOnce(state, false); }
BENCHMARK(clicksLaunching)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

void clicksDryRun(benchmark::State& state) { clicksAtOnce(state, true); }
BENCHMARK(clicksDryRun)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
