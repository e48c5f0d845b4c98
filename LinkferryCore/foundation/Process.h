#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

// Child processes, always started without a shell (posix_spawn of the executable itself).
// A program that cannot be started throws std::system_error whose what() is
// "cannot start " + executable + ": " + the system's reason.
namespace linkferry::Process {

struct Options {
  bool captureOutput = false;                 // standard output captured, else inherited
  std::optional<std::string> input;           // written to standard input, else /dev/null
  std::optional<std::map<std::string, std::string>> environment;  // replaces the environment
  std::optional<std::string> workingDirectory;
};

struct Result {
  int exitStatus = 0;      // the exit code, or 128 + signal number when killed by a signal
  std::string standardError;
  std::string standardOutput;  // empty unless captured
};

// Runs the program and waits for it, reading standard error (and output) to the end first so a
// chatty child cannot block on a full pipe.
Result run(const std::string& executable, const std::vector<std::string>& arguments,
           const Options& options = {});

// Outcome of a detached start.
struct DetachedResult {
  bool stillRunning = false;        // the child outlived the window
  std::optional<int> exitStatus;    // when it exited within the window
  std::string standardError;        // what it wrote before exiting within the window
};

// Starts the program in its own session with standard input and output on /dev/null and waits
// at most `window` for it to exit. The program is started by posix_spawn, so this process is not
// copied however large it is, and it stays our child: one still running afterwards keeps running
// on its own, its standard error read to the end by a small drainer process (so it never meets a
// closed pipe, even after we exited) and both reaped by a background thread of ours when they
// end, so no zombie stays behind and nothing in the caller waits for them. It keeps no
// descriptor of ours. `environment`, when given, replaces ours. `started`, when given, is called
// on the calling thread as soon as the program has been executed (before the window is waited
// out), so the caller can answer its own caller without waiting for a long-running program.
// Callable from any thread.
DetachedResult launchDetached(
    const std::string& executable, const std::vector<std::string>& arguments,
    std::chrono::milliseconds window = std::chrono::milliseconds(1500),
    const std::optional<std::map<std::string, std::string>>& environment = std::nullopt,
    const std::function<void()>& started = {});

// The absolute path of `name` found in the folders of `searchPath` (a PATH-style list) that is
// an executable regular file; nothing when none is. A name holding "/" is returned as given when
// it is executable.
std::optional<std::string> findExecutable(const std::string& name, const std::string& searchPath);

// Every variable of this process's environment, by name. An entry without "=" is skipped.
std::map<std::string, std::string> currentEnvironment();

}  // namespace linkferry::Process
