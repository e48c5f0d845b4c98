// One click as the desktop delivers it: `linkferry open --dry-run URL` and `linkferry-open
// --dry-run URL` (the desktop entry's program) as whole processes, through a running
// `linkferry serve`, and `linkferry open` without one, beside the floor of starting any process at all
// (posix_spawn of /bin/true), all in the same run so the machine's load is the same for each.
// The service's own answer time (a click request on a held connection) is measured too.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "launching/HelperSocket.h"

namespace {

namespace fs = std::filesystem;

// A temporary home with one browser, its data folder and two runtime folders: one where the
// service listens and one where nothing does.
struct World {
  fs::path root;
  pid_t service = -1;

  World() {
    char pattern[] = "/tmp/linkferry-service-bench-XXXXXX";
    root = ::mkdtemp(pattern);
    fs::create_directories(root / "data");
    fs::create_directories(root / "run");
    fs::create_directories(root / "elsewhere");
    std::ofstream(root / "data/browsers.json")
        << R"([{"id": "alpha", "name": "Alpha", "family": "firefox", "appPath": "/bin/true"}])";
    std::ofstream(root / "data/settings.json") << R"({"defaultBrowser": "alpha"})";
    std::ofstream(root / "data/rules.json")
        << R"({"version": 1, "rules": [{"name": "Work", "match": {"host": "*.work.example"},)"
           R"( "action": {"open": {"browser": "alpha"}}}]})";
    service = spawn({LINKFERRY_PROGRAM, "serve"}, environment(true), false);
    for (int attempt = 0; attempt < 400; ++attempt) {
      const int fd = linkferry::HelperSocket::connect(root / "run/linkferry/router.sock");
      if (fd >= 0) {
        ::close(fd);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
  }
  ~World() {
    ::kill(service, SIGTERM);
    ::waitpid(service, nullptr, 0);
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }

  std::vector<std::string> environment(bool withService) const {
    return {"HOME=" + (root / "home").string(), "LINKFERRY_HOME=" + (root / "data").string(),
            "XDG_DATA_HOME=" + (root / "share").string(), "XDG_DATA_DIRS=/usr/share",
            "XDG_CONFIG_HOME=" + (root / "config").string(),
            "XDG_RUNTIME_DIR=" + (root / (withService ? "run" : "elsewhere")).string(),
            "PATH=/usr/bin:/bin"};
  }

  // Starts a program with its output on /dev/null; waits for it unless `detach`.
  static pid_t spawn(const std::vector<std::string>& arguments,
                     std::vector<std::string> environment, bool wait = true) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& variable : environment) envp.push_back(variable.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (wait) ::waitpid(pid, nullptr, 0);
    return pid;
  }
};

// Destroyed at exit, which stops the service.
World& world() {
  static World instance;
  return instance;
}

void spawnTrue(benchmark::State& state) {
  world();
  for (auto _ : state) World::spawn({"/bin/true"}, {});
}
BENCHMARK(spawnTrue)->Unit(benchmark::kMillisecond)->UseRealTime();

void openThroughService(benchmark::State& state) {
  const auto environment = world().environment(true);
  for (auto _ : state) {
    World::spawn({LINKFERRY_PROGRAM, "open", "--dry-run", "https://app.work.example/x"},
                 environment);
  }
}
BENCHMARK(openThroughService)->Unit(benchmark::kMillisecond)->UseRealTime();

// The desktop's program for a click: the same click through the same service.
void quickOpenThroughService(benchmark::State& state) {
  const auto environment = world().environment(true);
  for (auto _ : state) {
    World::spawn({LINKFERRY_OPEN_PROGRAM, "--dry-run", "https://app.work.example/x"}, environment);
  }
}
BENCHMARK(quickOpenThroughService)->Unit(benchmark::kMillisecond)->UseRealTime();

void openWithoutService(benchmark::State& state) {
  const auto environment = world().environment(false);
  for (auto _ : state) {
    World::spawn({LINKFERRY_PROGRAM, "open", "--dry-run", "https://app.work.example/x"},
                 environment);
  }
}
BENCHMARK(openWithoutService)->Unit(benchmark::kMillisecond)->UseRealTime();

void serviceAnswersClick(benchmark::State& state) {
  const int fd = linkferry::HelperSocket::connect(world().root / "run/linkferry/router.sock");
  const std::string request =
      R"({"request": "click", "url": "https://app.work.example/x", "dryRun": true})"
      "\n";
  std::string buffer;
  for (auto _ : state) {
    (void)::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    buffer.clear();
    while (buffer.find('\n') == std::string::npos) {
      char bytes[8192];
      const ssize_t got = ::read(fd, bytes, sizeof(bytes));
      if (got <= 0) {
        state.SkipWithError("the service closed the connection");
        break;
      }
      buffer.append(bytes, static_cast<std::size_t>(got));
    }
  }
  ::close(fd);
}
BENCHMARK(serviceAnswersClick)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
