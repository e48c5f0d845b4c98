// `linkferry launch --via-helper`: the plan goes to linkferry-helper over its Unix socket. The
// helper is found beside this program (installed side by side), else, in a build tree, at
// <build>/LinkferryHelper/linkferry-helper next to <build>/cli/linkferry; it is started when its
// socket is absent and then given a few seconds to listen. Nothing of this command stays behind:
// the helper logs to "helper.log" beside its socket.
#include "ViaHelper.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>

#include "Command.h"
#include "foundation/Files.h"
#include "foundation/Process.h"
#include "foundation/Text.h"
#include "launching/HelperProtocol.h"
#include "launching/HelperSocket.h"

namespace linkferry::cli {

namespace {

constexpr auto kStartTimeout = std::chrono::seconds(10);
// Long enough for the detached launch window and a fallback or two.
constexpr auto kAnswerTimeout = std::chrono::seconds(30);

std::optional<std::filesystem::path> helperProgram() {
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return std::nullopt;
  const auto folder = self.parent_path();
  for (const auto& candidate : {folder / "linkferry-helper",
                                folder.parent_path() / "LinkferryHelper" / "linkferry-helper"}) {
    struct stat status {};
    if (::stat(candidate.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  return std::nullopt;
}

// The last line that says something in the helper's log, for a start that failed.
std::string lastLine(const std::filesystem::path& log) {
  std::string text = Files::readIfExists(log).value_or("");
  std::string_view last;
  for (std::string_view line : Text::split(text, '\n')) {
    if (!Text::trimmed(line).empty()) last = Text::trimmed(line);
  }
  return std::string(last);
}

// Starts the helper in a session of its own: standard input and output on /dev/null, standard
// error into "helper.log" beside its socket (so it can log for as long as it lives, with no
// process of ours staying behind to read a pipe, and this command can quote why a start failed),
// no descriptor of ours beyond those. Its process title is its own command line, which holds no
// link. Throws std::system_error when it cannot be started.
pid_t startHelper(const std::filesystem::path& helper, const std::filesystem::path& log) {
  const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  const int logFile = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (devNull < 0 || logFile < 0) {
    const int error = errno;
    if (devNull >= 0) ::close(devNull);
    if (logFile >= 0) ::close(logFile);
    throw std::system_error(error, std::generic_category(), "cannot open " + log.string());
  }
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_adddup2(&actions, devNull, 0);
  ::posix_spawn_file_actions_adddup2(&actions, devNull, 1);
  ::posix_spawn_file_actions_adddup2(&actions, logFile, 2);
  ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  ::posix_spawnattr_init(&attributes);
  ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  std::string program = helper.string();
  std::string flag = "--for-request";
  char* argv[] = {program.data(), flag.data(), nullptr};
  pid_t pid = -1;
  const int error = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, environ);
  ::posix_spawnattr_destroy(&attributes);
  ::posix_spawn_file_actions_destroy(&actions);
  ::close(devNull);
  ::close(logFile);
  if (error != 0) throw std::system_error(error, std::generic_category(), "cannot start " + program);
  return pid;
}

// A connection to a helper, starting one when nothing listens. Nothing when it cannot be had;
// the reason is printed.
std::optional<int> connectToHelper(const std::filesystem::path& socket) {
  int descriptor = HelperSocket::connect(socket);
  if (descriptor >= 0) return descriptor;
  if (errno != ENOENT && errno != ECONNREFUSED) {
    printError("cannot reach the helper at " + socket.string() + ": " + std::strerror(errno));
    return std::nullopt;
  }
  const auto helper = helperProgram();
  if (!helper) {
    printError("the helper (linkferry-helper) is not installed beside linkferry");
    return std::nullopt;
  }
  const auto log = socket.parent_path() / "helper.log";
  pid_t pid = -1;
  try {
    HelperSocket::prepareFolder(socket);
    pid = startHelper(*helper, log);
  } catch (const std::exception& error) {
    printError(error.what());
    return std::nullopt;
  }
  const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
  while (std::chrono::steady_clock::now() < deadline) {
    descriptor = HelperSocket::connect(socket);
    if (descriptor >= 0) return descriptor;
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      const std::string reason = lastLine(log);
      printError("the helper could not start" + (reason.empty() ? "" : ": " + reason));
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  printError("the helper did not start listening at " + socket.string());
  return std::nullopt;
}

}  // namespace

int launchViaHelper(const LaunchPlan& plan) {
  std::string request;
  try {
    request = HelperProtocol::url(plan).absoluteString();
  } catch (const std::exception& error) {
    printError(std::string("cannot encode the plan: ") + error.what());
    return kInternalError;
  }
  const auto socket = HelperSocket::path(Process::currentEnvironment());
  const auto descriptor = connectToHelper(socket);
  if (!descriptor) return kInternalError;
  try {
    const auto answer = HelperSocket::exchange(*descriptor, request, kAnswerTimeout);
    switch (answer.status) {
      case HelperSocket::Answer::Status::done:
        return kSuccess;
      case HelperSocket::Answer::Status::refused:
        printError("the helper refused the plan: " + answer.message);
        return kInputError;
      case HelperSocket::Answer::Status::failed:
        printError("the helper could not open the link: " + answer.message);
        return kInternalError;
    }
  } catch (const std::exception& error) {
    printError(error.what());
  }
  return kInternalError;
}

}  // namespace linkferry::cli
