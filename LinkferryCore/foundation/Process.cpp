#include "foundation/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "foundation/SigpipeGuard.h"

extern char** environ;

namespace linkferry::Process {

namespace {

// A file descriptor closed on destruction.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : m_fd(fd) {}
  Fd(Fd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      reset();
      m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
  }
  ~Fd() { reset(); }

  int get() const { return m_fd; }
  bool valid() const { return m_fd >= 0; }
  void reset() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
  }

 private:
  int m_fd = -1;
};

[[noreturn]] void throwCannotStart(const std::string& executable, int error) {
  // libstdc++ appends ": " and the system's text for the error to this prefix.
  throw std::system_error(error, std::generic_category(), "cannot start " + executable);
}

struct Pipe {
  Fd read;
  Fd write;
};

// Both ends close on exec, so a pipe made for one child never leaks into another child started
// at the same time from another thread (which would keep the first one's end-of-file away).
Pipe makePipe(const std::string& executable) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throwCannotStart(executable, errno);
  return Pipe{Fd(fds[0]), Fd(fds[1])};
}

Fd openDevNull(const std::string& executable) {
  int fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (fd < 0) throwCannotStart(executable, errno);
  return Fd(fd);
}

void setNonBlocking(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

int decodeStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 255;
}

int waitForExit(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return 255;
  }
  return decodeStatus(status);
}

// argv (program path first) and envp as the C arrays exec wants; the strings stay owned here.
class CommandLine {
 public:
  CommandLine(const std::string& executable, const std::vector<std::string>& arguments,
              const std::optional<std::map<std::string, std::string>>& environment) {
    m_arguments.reserve(arguments.size() + 1);
    m_arguments.push_back(executable);
    m_arguments.insert(m_arguments.end(), arguments.begin(), arguments.end());
    for (auto& argument : m_arguments) m_argv.push_back(argument.data());
    m_argv.push_back(nullptr);
    if (environment) {
      for (const auto& [name, value] : *environment) m_environment.push_back(name + "=" + value);
      for (auto& entry : m_environment) m_envp.push_back(entry.data());
      m_envp.push_back(nullptr);
    }
  }
  char* const* argv() { return m_argv.data(); }
  char* const* envp() { return m_envp.empty() ? environ : m_envp.data(); }

 private:
  std::vector<std::string> m_arguments;
  std::vector<char*> m_argv;
  std::vector<std::string> m_environment;
  std::vector<char*> m_envp;
};

class SpawnActions {
 public:
  SpawnActions() { ::posix_spawn_file_actions_init(&m_actions); }
  ~SpawnActions() { ::posix_spawn_file_actions_destroy(&m_actions); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  posix_spawn_file_actions_t* get() { return &m_actions; }

 private:
  posix_spawn_file_actions_t m_actions;
};

class SpawnAttributes {
 public:
  // The child starts with no blocked signals and every signal at its default action, whatever
  // this process ignores or blocks (a child that inherited an ignored SIGPIPE would not stop
  // when its reader goes away).
  // `newSession`: the child leads a session of its own (setsid), away from our terminal.
  explicit SpawnAttributes(bool newSession = false) {
    ::posix_spawnattr_init(&m_attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    ::posix_spawnattr_setsigmask(&m_attributes, &none);
    ::posix_spawnattr_setsigdefault(&m_attributes, &all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (newSession) flags |= POSIX_SPAWN_SETSID;
    ::posix_spawnattr_setflags(&m_attributes, flags);
  }
  ~SpawnAttributes() { ::posix_spawnattr_destroy(&m_attributes); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  posix_spawnattr_t* get() { return &m_attributes; }

 private:
  posix_spawnattr_t m_attributes;
};

// Reads what is available; false at end of file or on an error other than "try again".
bool readAvailable(int fd, std::string& into) {
  char buffer[65536];
  for (;;) {
    ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count > 0) {
      into.append(buffer, static_cast<std::size_t>(count));
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    return false;
  }
}

// Feeds `input` to the child and collects its output and error until both reach end of file.
// Every pipe is served as soon as it is ready, so neither side can block the other.
void exchange(Fd& in, const std::string& input, Fd& out, std::string* output, Fd& err,
              std::string& error) {
  SigpipeGuard guard;
  std::size_t written = 0;
  if (in.valid() && input.empty()) in.reset();
  for (Fd* fd : {&in, &out, &err}) {
    if (fd->valid()) setNonBlocking(fd->get());
  }
  while (in.valid() || out.valid() || err.valid()) {
    pollfd fds[3];
    nfds_t count = 0;
    int inIndex = -1, outIndex = -1, errIndex = -1;
    if (in.valid()) {
      inIndex = static_cast<int>(count);
      fds[count++] = pollfd{in.get(), POLLOUT, 0};
    }
    if (out.valid()) {
      outIndex = static_cast<int>(count);
      fds[count++] = pollfd{out.get(), POLLIN, 0};
    }
    if (err.valid()) {
      errIndex = static_cast<int>(count);
      fds[count++] = pollfd{err.get(), POLLIN, 0};
    }
    if (::poll(fds, count, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (inIndex >= 0 && fds[inIndex].revents != 0) {
      for (;;) {
        ssize_t count = ::write(in.get(), input.data() + written, input.size() - written);
        if (count > 0) {
          written += static_cast<std::size_t>(count);
          if (written == input.size()) {
            in.reset();
            break;
          }
          continue;
        }
        if (count < 0 && errno == EINTR) continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        in.reset();  // the child stopped reading; what it did not take is dropped
        break;
      }
    }
    if (outIndex >= 0 && fds[outIndex].revents != 0) {
      if (!readAvailable(out.get(), *output)) out.reset();
    }
    if (errIndex >= 0 && fds[errIndex].revents != 0) {
      if (!readAvailable(err.get(), error)) err.reset();
    }
  }
}

// ---- Detached launches -------------------------------------------------------------------------
//
// A detached program is started by posix_spawn, which shares our memory with the child until its
// exec (CLONE_VM | CLONE_VFORK) instead of copying it: in a service of tens of megabytes and a
// dozen threads, the two forks that detaching by a double fork needs cost several milliseconds
// per click. So the program stays our child. Within the window we watch its exit through a process
// descriptor and read its standard error; a program still running afterwards is handed to the
// Reaper, which reaps it when it ends, so no zombie is left in a long-running process.
//
// Its standard error stays a pipe: a program that writes to a pipe nobody reads meets SIGPIPE, and
// a file would grow for as long as it runs. After the window a small drainer (cat, to /dev/null,
// in its own session) takes over our read end and reads to the end: it outlives us when we exit
// first, as a command-line caller does. Only when no cat can be started does the Reaper itself read
// and drop what comes, for as long as we run.

int openProcessFd(pid_t pid) {
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

// Reads and drops what is available; false at end of file or on an error other than "try again".
bool discardAvailable(int fd) {
  char buffer[16384];
  for (;;) {
    ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count > 0) continue;
    if (count < 0 && errno == EINTR) continue;
    return count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  }
}

// Reaps the children handed to it as they end, and reads to the end the pipes handed with them.
// Its one thread starts with the first child and waits in poll on process descriptors (on
// kernels without them, it polls for exits ten times a second), so no signal handler is involved
// and nothing of the caller's waits for it. It is never destroyed: its thread may be waiting when
// the process exits. It waits for its own children only (never waitpid(-1)), and a child someone
// else reaped first (ECHILD) is simply forgotten.
class Reaper {
 public:
  static Reaper& instance() {
    static Reaper* const reaper = new Reaper;
    return *reaper;
  }

  // Takes `pid` (our child) and, when valid, `drain`, a pipe's read end to read to its end.
  void adopt(pid_t pid, Fd drain) {
    {
      std::lock_guard lock(m_mutex);
      m_incoming.push_back(Child{pid, Fd(), std::move(drain), false});
    }
    const char byte = 1;
    while (::write(m_wakeWrite.get(), &byte, 1) < 0 && errno == EINTR) {
    }
  }

 private:
  struct Child {
    pid_t pid;
    Fd processFd;
    Fd drain;
    bool exited;
  };

  Reaper() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
      m_wakeRead = Fd(fds[0]);
      m_wakeWrite = Fd(fds[1]);
    }
    // With every signal blocked, none meant for the process is ever delivered to this thread.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    std::thread([this] { loop(); }).detach();
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  }

  void loop() {
    std::vector<Child> children;
    std::vector<pollfd> fds;
    for (;;) {
      {
        std::lock_guard lock(m_mutex);
        for (auto& child : m_incoming) {
          child.processFd = Fd(openProcessFd(child.pid));
          if (child.drain.valid()) setNonBlocking(child.drain.get());
          children.push_back(std::move(child));
        }
        m_incoming.clear();
      }
      fds.clear();
      fds.push_back(pollfd{m_wakeRead.get(), POLLIN, 0});
      bool pollExits = !m_wakeRead.valid();
      for (const auto& child : children) {
        if (child.drain.valid()) fds.push_back(pollfd{child.drain.get(), POLLIN, 0});
        if (child.exited) continue;
        if (child.processFd.valid()) {
          fds.push_back(pollfd{child.processFd.get(), POLLIN, 0});
        } else {
          pollExits = true;
        }
      }
      if (::poll(fds.data(), fds.size(), pollExits ? 100 : -1) < 0 && errno != EINTR) {
        pollExits = true;
        ::poll(nullptr, 0, 100);  // never spin, whatever went wrong
      }
      if (m_wakeRead.valid()) discardAvailable(m_wakeRead.get());
      for (auto& child : children) {
        if (child.drain.valid() && !discardAvailable(child.drain.get())) child.drain.reset();
        if (child.exited) continue;
        int status = 0;
        pid_t reaped = ::waitpid(child.pid, &status, WNOHANG);
        if (reaped == child.pid || (reaped < 0 && errno == ECHILD)) {
          child.exited = true;
          child.processFd.reset();
        }
      }
      std::erase_if(children,
                    [](const Child& child) { return child.exited && !child.drain.valid(); });
    }
  }

  std::mutex m_mutex;
  std::vector<Child> m_incoming;  // guarded by m_mutex
  Fd m_wakeRead;
  Fd m_wakeWrite;
};

// Starts cat reading `pipe` to its end into /dev/null, in its own session with an empty
// environment and no descriptor of ours; its pid, or nothing when it cannot be started.
std::optional<pid_t> startDrainer(int pipe) {
  static const std::optional<std::string> cat = findExecutable("cat", "/usr/bin:/bin");
  if (!cat) return std::nullopt;
  int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (devNull < 0) return std::nullopt;
  SpawnActions actions;
  ::posix_spawn_file_actions_adddup2(actions.get(), pipe, 0);
  ::posix_spawn_file_actions_adddup2(actions.get(), devNull, 1);
  ::posix_spawn_file_actions_adddup2(actions.get(), devNull, 2);
  ::posix_spawn_file_actions_addclosefrom_np(actions.get(), 3);
  SpawnAttributes attributes(true);
  std::string program = *cat;
  char* argv[] = {program.data(), nullptr};
  char* envp[] = {nullptr};
  pid_t pid = 0;
  int failure = ::posix_spawn(&pid, program.c_str(), actions.get(), attributes.get(), argv, envp);
  ::close(devNull);
  if (failure != 0) return std::nullopt;
  return pid;
}

// After the window: the program keeps running on its own, its standard error read to the end by
// a drainer (or by the Reaper), and both reaped by the Reaper when they end.
void leaveRunning(pid_t program, Fd errorRead) {
  Reaper& reaper = Reaper::instance();
  if (errorRead.valid()) {
    // The drainer shares our open pipe: it must block in read, not see "try again" and quit.
    int flags = ::fcntl(errorRead.get(), F_GETFL);
    if (flags >= 0) ::fcntl(errorRead.get(), F_SETFL, flags & ~O_NONBLOCK);
    if (auto drainer = startDrainer(errorRead.get())) {
      errorRead.reset();
      reaper.adopt(*drainer, Fd());
    }
  }
  reaper.adopt(program, std::move(errorRead));
}

constexpr std::size_t kMaxDetachedError = 1 << 20;

}  // namespace

Result run(const std::string& executable, const std::vector<std::string>& arguments,
           const Options& options) {
  CommandLine commandLine(executable, arguments, options.environment);
  Fd devNull = openDevNull(executable);
  Pipe error = makePipe(executable);
  Pipe output;
  Pipe input;
  SpawnActions actions;
  if (options.input) {
    input = makePipe(executable);
    ::posix_spawn_file_actions_adddup2(actions.get(), input.read.get(), 0);
  } else {
    ::posix_spawn_file_actions_adddup2(actions.get(), devNull.get(), 0);
  }
  if (options.captureOutput) {
    output = makePipe(executable);
    ::posix_spawn_file_actions_adddup2(actions.get(), output.write.get(), 1);
  }
  ::posix_spawn_file_actions_adddup2(actions.get(), error.write.get(), 2);
  if (options.workingDirectory) {
    ::posix_spawn_file_actions_addchdir_np(actions.get(), options.workingDirectory->c_str());
  }
  SpawnAttributes attributes;

  pid_t pid = 0;
  int failure = ::posix_spawn(&pid, executable.c_str(), actions.get(), attributes.get(),
                              commandLine.argv(), commandLine.envp());
  if (failure != 0) throwCannotStart(executable, failure);
  input.read.reset();
  output.write.reset();
  error.write.reset();
  devNull.reset();

  Result result;
  static const std::string kNoInput;
  exchange(input.write, options.input ? *options.input : kNoInput, output.read,
           &result.standardOutput, error.read, result.standardError);
  result.exitStatus = waitForExit(pid);
  return result;
}

DetachedResult launchDetached(
    const std::string& executable, const std::vector<std::string>& arguments,
    std::chrono::milliseconds window,
    const std::optional<std::map<std::string, std::string>>& environment,
    const std::function<void()>& started) {
  const auto deadline = std::chrono::steady_clock::now() + window;
  CommandLine commandLine(executable, arguments, environment);
  Fd devNull = openDevNull(executable);
  Pipe error = makePipe(executable);
  SpawnActions actions;
  ::posix_spawn_file_actions_adddup2(actions.get(), devNull.get(), 0);
  ::posix_spawn_file_actions_adddup2(actions.get(), devNull.get(), 1);
  ::posix_spawn_file_actions_adddup2(actions.get(), error.write.get(), 2);
  // Everything of ours is opened close-on-exec, but a library's descriptor may not be, and a
  // browser lives long: it must not keep a pipe someone reads to its end.
  ::posix_spawn_file_actions_addclosefrom_np(actions.get(), 3);
  SpawnAttributes attributes(true);

  pid_t pid = 0;
  int failure = ::posix_spawn(&pid, executable.c_str(), actions.get(), attributes.get(),
                              commandLine.argv(), commandLine.envp());
  if (failure != 0) throwCannotStart(executable, failure);
  error.write.reset();
  devNull.reset();
  // posix_spawn reports a failed exec itself, so the program runs by now.
  if (started) started();

  DetachedResult result;
  Fd processFd(openProcessFd(pid));
  setNonBlocking(error.read.get());
  for (;;) {
    int status = 0;
    pid_t reaped = ::waitpid(pid, &status, WNOHANG);
    if (reaped == pid || (reaped < 0 && errno == ECHILD)) {
      // What it wrote just before exiting is in the pipe already; a descendant that still holds
      // the pipe is not waited for.
      if (error.read.valid()) readAvailable(error.read.get(), result.standardError);
      // Reaped by someone else (SIGCHLD ignored): its status is lost, and it did exit.
      result.exitStatus = reaped == pid ? decodeStatus(status) : 0;
      break;
    }
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) break;
    auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    pollfd fds[2];
    nfds_t count = 0;
    if (error.read.valid()) fds[count++] = pollfd{error.read.get(), POLLIN, 0};
    if (processFd.valid()) fds[count++] = pollfd{processFd.get(), POLLIN, 0};
    // Without a process descriptor (kernels before 5.3) the program's exit is polled for.
    if (!processFd.valid()) remaining = std::min(remaining, std::chrono::milliseconds(10));
    if (::poll(fds, count, static_cast<int>(remaining.count())) < 0 && errno != EINTR) {
      remaining = std::min(remaining, std::chrono::milliseconds(10));
      ::poll(nullptr, 0, static_cast<int>(remaining.count()));
    }
    if (error.read.valid() && !readAvailable(error.read.get(), result.standardError)) {
      error.read.reset();
    }
    if (result.standardError.size() > kMaxDetachedError) {
      result.standardError.resize(kMaxDetachedError);
    }
  }
  if (result.standardError.size() > kMaxDetachedError) {
    result.standardError.resize(kMaxDetachedError);
  }
  result.stillRunning = !result.exitStatus.has_value();
  if (result.stillRunning) leaveRunning(pid, std::move(error.read));
  return result;
}

std::optional<std::string> findExecutable(const std::string& name, const std::string& searchPath) {
  auto isExecutableFile = [](const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
  };
  if (name.empty()) return std::nullopt;
  if (name.find('/') != std::string::npos) {
    if (isExecutableFile(name)) return name;
    return std::nullopt;
  }
  std::size_t begin = 0;
  while (begin <= searchPath.size()) {
    std::size_t end = searchPath.find(':', begin);
    if (end == std::string::npos) end = searchPath.size();
    std::string folder = searchPath.substr(begin, end - begin);
    // Empty and relative entries would search the current folder: never do that.
    if (!folder.empty() && folder.front() == '/') {
      if (folder.back() != '/') folder += '/';
      std::string candidate = folder + name;
      if (isExecutableFile(candidate)) return candidate;
    }
    begin = end + 1;
  }
  return std::nullopt;
}

std::map<std::string, std::string> currentEnvironment() {
  std::map<std::string, std::string> variables;
  for (char** entry = environ; entry && *entry; ++entry) {
    const std::string_view text(*entry);
    const auto equals = text.find('=');
    if (equals == std::string_view::npos) continue;
    variables.emplace(std::string(text.substr(0, equals)), std::string(text.substr(equals + 1)));
  }
  return variables;
}

}  // namespace linkferry::Process
