// `linkferry serve [--idle-exit SECONDS] [--refresh-delay SECONDS]`: the long-lived router of this
// user. It listens on linkferry/router.sock in $XDG_RUNTIME_DIR (or takes the socket the service
// manager passes in LISTEN_FDS) and answers `linkferry open`, `linkferry index` and `linkferry
// doctor`.
// `linkferry serve --status [--json]`: which service answers there, and whether it is of this
// program's build.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <string>

#include "Command.h"
#include "ProgramIdentity.h"
#include "RouterService.h"
#include "ServiceClient.h"
#include "foundation/Files.h"
#include "foundation/Process.h"
#include "launching/HelperSocket.h"

namespace linkferry::cli {

namespace {

// The first descriptor the service manager passes (sd_listen_fds).
constexpr int kFirstPassedDescriptor = 3;

// A year: longer than any session stays up, short enough to be a duration in milliseconds.
constexpr double kMostIdleSeconds = 365.0 * 24 * 3600;

std::atomic<RouterService*> gService{nullptr};

void onTerminate(int) {
  if (RouterService* service = gService.load()) service->stop();
}

// The listening socket passed by socket activation, when this process is its addressee.
std::optional<int> passedListener() {
  const char* pid = std::getenv("LISTEN_PID");
  const char* count = std::getenv("LISTEN_FDS");
  if (!pid || !count || std::to_string(::getpid()) != pid || std::atoi(count) < 1) return {};
  const int descriptor = kFirstPassedDescriptor;
  ::fcntl(descriptor, F_SETFD, FD_CLOEXEC);
  ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) | O_NONBLOCK);
  // Children (browsers) must not believe the socket is theirs.
  ::unsetenv("LISTEN_PID");
  ::unsetenv("LISTEN_FDS");
  ::unsetenv("LISTEN_FDNAMES");
  return descriptor;
}

int runServe(double idleSeconds, double refreshDelay) {
  RouterService::Options options;
  const std::optional<int> passed = passedListener();
  options.environment = Process::currentEnvironment();
  options.home = Files::home();
  if (idleSeconds > 0) {
    options.idleExit = std::chrono::milliseconds(static_cast<long long>(idleSeconds * 1000));
  }
  options.debounce = std::chrono::milliseconds(static_cast<long long>(refreshDelay * 1000));
  const std::filesystem::path socket = ServiceClient::socketPath(options.environment);
  int lock = -1;
  int listener = -1;
  if (passed) {
    listener = *passed;
  } else {
    try {
      listener = HelperSocket::listen(socket, lock);
    } catch (const std::exception& error) {
      printError(error.what());
      return kInternalError;
    }
    if (listener < 0) {
      printError("another linkferry serve already answers on " + socket.string());
      return kSuccess;
    }
  }
  // Asked to quit: the path and its lock go at once, so that the client that asked can start the
  // service of its own build while this one finishes its clicks. A passed socket stays with the
  // service manager, which starts the next service on it.
  options.socketActivated = passed.has_value();
  bool released = false;
  options.releaseSocket = [&] {
    if (passed) return;
    ::unlink(socket.c_str());
    ::close(listener);
    ::close(lock);
    released = true;
  };
  RouterService service(std::move(options));
  gService = &service;
  struct sigaction action {};
  action.sa_handler = onTerminate;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
  service.run(listener);
  gService = nullptr;
  // A socket we bound goes with us, so the next click starts afresh; a passed one stays the
  // service manager's.
  if (released) return kSuccess;
  if (!passed) ::unlink(socket.c_str());
  ::close(listener);
  return kSuccess;
}

// The service's own account of itself, and whether it is of this build (the one a click from here
// would keep; another is replaced).
int printStatus(bool json) {
  const auto environment = Process::currentEnvironment();
  auto connection = ServiceClient::Connection::open(environment);
  if (!connection) {
    printError("no linkferry serve answers on " + ServiceClient::socketPath(environment).string());
    return kInputError;
  }
  JsonValue status = connection->exchange({{"request", "status"}}, std::chrono::seconds(10));
  const std::optional<ProgramIdentity> served = ProgramIdentity::from(status);
  const bool same = served == ProgramIdentity::current();
  if (json) {
    status.erase("ok");
    status["sameBuild"] = same;
    printJson(status);
    return kSuccess;
  }
  std::cout << "linkferry serve, process " << status.value("pid", 0) << ", serving "
            << ServiceClient::servedFolder(status) << '\n';
  if (served) {
    std::cout << "version:  " << served->version << '\n'
              << "program:  " << served->path << '\n'
              << "build id: " << served->buildId << '\n';
  } else {
    std::cout << "an older service that does not name its version, program or build\n";
  }
  std::cout << (same ? "the same build as this program\n"
                     : "another build than this program (" +
                           ProgramIdentity::current().description() +
                           "): the next click replaces it\n");
  return kSuccess;
}

// A number of seconds from 0 to `most`; NaN, infinities and negative numbers are refused rather
// than turned into a duration.
CLI::Validator seconds(double most) {
  return CLI::Validator(
      [most](const std::string& text) -> std::string {
        double value = 0;
        if (!CLI::detail::lexical_cast(text, value) || !std::isfinite(value) || value < 0 ||
            value > most) {
          return "expected a number of seconds from 0 to " +
                 std::to_string(static_cast<long long>(most)) + ", got " + text;
        }
        return {};
      },
      "SECONDS");
}

RegisterCommand registerServe([](CLI::App& program) -> CommandAction {
  auto* command = program.add_subcommand(
      "serve",
      "Keep a warm router for every click: answers linkferry open on "
      "$XDG_RUNTIME_DIR/linkferry/router.sock, rebuilds the browsing index a few seconds (--refresh-delay) "
      "after the browsers' profile folders change and every 30 minutes, and reloads rules.json, "
      "settings.json, browsers.json and the desktop entries when they change");
  auto idle = std::make_shared<double>(0);
  command->add_option("--idle-exit", *idle,
                      "Exit after this many seconds without a client (default: never)")
      ->check(seconds(kMostIdleSeconds));
  auto refreshDelay = std::make_shared<double>(
      std::chrono::duration<double>(RouterService::kDefaultDebounce).count());
  command
      ->add_option("--refresh-delay", *refreshDelay,
                   "Rebuild the browsing index this many seconds after the last change to the "
                   "browsers' profile folders (a burst of changes gives one rebuild)")
      ->capture_default_str()
      ->check(seconds(3600));
  auto status = std::make_shared<bool>(false);
  auto json = std::make_shared<bool>(false);
  command->add_flag("--status", *status,
                    "Show which service answers (process, data folder, version, program, build id) "
                    "and whether it is of this program's build");
  command->add_flag("--json", *json, "With --status: machine-readable output");
  return [idle, refreshDelay, status, json] {
    if (*status) return printStatus(*json);
    if (*json) throw InputError("--json goes with --status");
    return runServe(*idle, *refreshDelay);
  };
});

}  // namespace

}  // namespace linkferry::cli
