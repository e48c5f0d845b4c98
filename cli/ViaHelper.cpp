// `linkferry launch --via-helper`: the plan goes to linkferry-helper over its Unix socket. The
// helper is found beside this program (installed side by side), else, in a build tree, at
// <build>/LinkferryHelper/linkferry-helper next to <build>/cli/linkferry; it is started when its
// socket is absent and then given a few seconds to listen.
#include "ViaHelper.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>

#include "Command.h"
#include "foundation/Process.h"
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
  try {
    const auto started = Process::launchDetached(helper->string(), {"--for-request"},
                                                 std::chrono::milliseconds(200));
    if (started.exitStatus && *started.exitStatus != 0) {
      printError("the helper could not start: " + started.standardError);
      return std::nullopt;
    }
  } catch (const std::exception& error) {
    printError(error.what());
    return std::nullopt;
  }
  const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
  while (std::chrono::steady_clock::now() < deadline) {
    descriptor = HelperSocket::connect(socket);
    if (descriptor >= 0) return descriptor;
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
