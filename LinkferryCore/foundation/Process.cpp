#include "foundation/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <system_error>
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
  SpawnAttributes() {
    ::posix_spawnattr_init(&m_attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    ::posix_spawnattr_setsigmask(&m_attributes, &none);
    ::posix_spawnattr_setsigdefault(&m_attributes, &all);
    ::posix_spawnattr_setflags(&m_attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
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
// A detached program must be able to outlive us and keep writing to its standard error without
// ever meeting a closed pipe (SIGPIPE would kill it) or a file that grows for as long as it runs.
// So its standard error is a pipe read by a small relay process of its own:
//
//   we ──fork──▶ intermediate ──fork──▶ relay ──fork+exec──▶ program
//                (exits at once)         (own session)       (own session)
//
// The relay forwards the program's standard error to us and tells us when the program started,
// failed to start or exited; once we stop listening (at the end of the window) it reads and
// drops the rest until every writer has gone, reaps the program and exits. Because the
// intermediate exits at once, the relay is adopted by init, so nothing is left for us to reap
// and no zombie stays behind in a long-running process. Between fork and exec only
// async-signal-safe calls are made, as required after forking a multithreaded process; all
// memory they use is prepared beforehand.

enum MessageKind : std::int32_t { kStarted = 1, kStartFailed = 2, kExited = 3 };

struct Message {
  std::int32_t kind;
  std::int32_t value;  // the errno of kStartFailed, the decoded status of kExited
};

void sendMessage(int fd, MessageKind kind, std::int32_t value) {
  Message message{kind, value};
  // Far below PIPE_BUF, so the write is atomic. Once we stopped listening it fails with EPIPE
  // (SIGPIPE is ignored in the relay) and that is fine.
  while (::write(fd, &message, sizeof message) < 0 && errno == EINTR) {
  }
}

// Closes every descriptor from 3 up except the three given (all of them at least 3).
void closeAllExcept(int a, int b, int c) {
  int keep[3] = {a, b, c};
  std::sort(keep, keep + 3);
  unsigned int next = 3;
  bool closeRangeWorks = true;
  for (int fd : keep) {
    unsigned int kept = static_cast<unsigned int>(fd);
    if (kept > next && ::syscall(SYS_close_range, next, kept - 1, 0) != 0) closeRangeWorks = false;
    next = std::max(next, kept + 1);
  }
  if (closeRangeWorks && ::syscall(SYS_close_range, next, ~0U, 0) == 0) return;
  rlimit limit{};
  int maximum = 1024;
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    maximum = static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 65536));
  }
  for (int fd = 3; fd < maximum; ++fd) {
    if (fd != a && fd != b && fd != c) ::close(fd);
  }
}

// Moves a descriptor to 3 or above, so that pointing 0, 1 and 2 at /dev/null cannot clobber it.
int aboveStandard(int fd) {
  if (fd > 2) return fd;
  return ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
}

struct DetachedSetup {
  const char* path;
  char* const* argv;
  char* const* envp;
  int relayFd;   // write end: the program's standard error, forwarded to us
  int statusFd;  // write end: Messages
  int devNull;
};

[[noreturn]] void runProgram(const DetachedSetup& setup, int errorWrite, int execWrite) {
  ::setsid();
  struct sigaction defaults {};
  defaults.sa_handler = SIG_DFL;
  for (int signal = 1; signal < NSIG; ++signal) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
      ::sigaction(signal, &defaults, nullptr);
    }
  }
  ::sigaction(SIGPIPE, &defaults, nullptr);
  if (::dup2(errorWrite, 2) < 0) {
    int error = errno;
    while (::write(execWrite, &error, sizeof error) < 0 && errno == EINTR) {
    }
    ::_exit(127);
  }
  ::execve(setup.path, setup.argv, setup.envp);
  int error = errno;
  while (::write(execWrite, &error, sizeof error) < 0 && errno == EINTR) {
  }
  ::_exit(127);
}

[[noreturn]] void runRelay(DetachedSetup setup) {
  ::setsid();
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, nullptr);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);

  setup.relayFd = aboveStandard(setup.relayFd);
  setup.statusFd = aboveStandard(setup.statusFd);
  setup.devNull = aboveStandard(setup.devNull);
  if (setup.relayFd < 0 || setup.statusFd < 0 || setup.devNull < 0) ::_exit(0);
  // Our standard streams may be pipes someone reads to their end; the relay must not hold them.
  for (int fd = 0; fd <= 2; ++fd) ::dup2(setup.devNull, fd);
  closeAllExcept(setup.relayFd, setup.statusFd, setup.devNull);

  int errorPipe[2];
  int execPipe[2];
  if (::pipe2(errorPipe, O_CLOEXEC) != 0 || ::pipe2(execPipe, O_CLOEXEC) != 0) {
    sendMessage(setup.statusFd, kStartFailed, errno);
    ::_exit(0);
  }
  pid_t program = ::_Fork();
  if (program == 0) runProgram(setup, errorPipe[1], execPipe[1]);
  if (program < 0) {
    sendMessage(setup.statusFd, kStartFailed, errno);
    ::_exit(0);
  }
  ::close(errorPipe[1]);
  ::close(execPipe[1]);

  // The exec pipe closes on a successful exec and carries errno when exec failed.
  int execError = 0;
  ssize_t got;
  while ((got = ::read(execPipe[0], &execError, sizeof execError)) < 0 && errno == EINTR) {
  }
  ::close(execPipe[0]);
  if (got == static_cast<ssize_t>(sizeof execError)) {
    int status;
    while (::waitpid(program, &status, 0) < 0 && errno == EINTR) {
    }
    sendMessage(setup.statusFd, kStartFailed, execError);
    ::_exit(0);
  }
  sendMessage(setup.statusFd, kStarted, 0);

  int flags = ::fcntl(setup.relayFd, F_GETFL);
  if (flags >= 0) ::fcntl(setup.relayFd, F_SETFL, flags | O_NONBLOCK);
  flags = ::fcntl(errorPipe[0], F_GETFL);
  if (flags >= 0) ::fcntl(errorPipe[0], F_SETFL, flags | O_NONBLOCK);

  int processFd = static_cast<int>(::syscall(SYS_pidfd_open, program, 0));
  int errorRead = errorPipe[0];
  bool forwarding = true;
  bool exited = false;
  static char buffer[16384];  // the relay is single-threaded

  // Reads what is available, forwards it while we listen, drops it afterwards. False at the end.
  auto pump = [&]() {
    for (;;) {
      ssize_t count = ::read(errorRead, buffer, sizeof buffer);
      if (count < 0 && errno == EINTR) continue;
      if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
      if (count <= 0) return false;
      if (forwarding) {
        ssize_t sent = ::write(setup.relayFd, buffer, static_cast<std::size_t>(count));
        // A full pipe drops the excess; a closed one means we stopped listening for good.
        if (sent < 0 && errno == EPIPE) forwarding = false;
      }
    }
  };

  while (errorRead >= 0 || !exited) {
    pollfd fds[2];
    nfds_t count = 0;
    if (errorRead >= 0) fds[count++] = pollfd{errorRead, POLLIN, 0};
    if (!exited && processFd >= 0) fds[count++] = pollfd{processFd, POLLIN, 0};
    // Without a process descriptor (kernels before 5.3) the program's exit is polled for.
    int timeout = (!exited && processFd < 0) ? 100 : -1;
    if (::poll(fds, count, timeout) < 0 && errno != EINTR) break;
    if (errorRead >= 0 && !pump()) {
      ::close(errorRead);
      errorRead = -1;
    }
    if (!exited) {
      int status = 0;
      if (::waitpid(program, &status, WNOHANG) == program) {
        exited = true;
        // What the program wrote just before exiting goes out before the news of its exit.
        if (errorRead >= 0 && !pump()) {
          ::close(errorRead);
          errorRead = -1;
        }
        sendMessage(setup.statusFd, kExited, decodeStatus(status));
      }
    }
  }
  ::_exit(0);
}

[[noreturn]] void runIntermediate(const DetachedSetup& setup) {
  pid_t relay = ::_Fork();
  if (relay == 0) runRelay(setup);
  if (relay < 0) sendMessage(setup.statusFd, kStartFailed, errno);
  ::_exit(0);
}

// Reads exactly one Message, waiting at most `timeout`; nothing on timeout or end of file.
std::optional<Message> receive(int fd, std::chrono::milliseconds timeout) {
  pollfd descriptor{fd, POLLIN, 0};
  int ready;
  while ((ready = ::poll(&descriptor, 1, static_cast<int>(timeout.count()))) < 0 &&
         errno == EINTR) {
  }
  if (ready <= 0) return std::nullopt;
  Message message{};
  ssize_t count;
  while ((count = ::read(fd, &message, sizeof message)) < 0 && errno == EINTR) {
  }
  if (count != static_cast<ssize_t>(sizeof message)) return std::nullopt;
  return message;
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

DetachedResult launchDetached(const std::string& executable,
                              const std::vector<std::string>& arguments,
                              std::chrono::milliseconds window,
                              const std::optional<std::map<std::string, std::string>>& environment) {
  const auto deadline = std::chrono::steady_clock::now() + window;
  CommandLine commandLine(executable, arguments, environment);
  Fd devNull = openDevNull(executable);
  Pipe relay = makePipe(executable);
  Pipe status = makePipe(executable);
  DetachedSetup setup{executable.c_str(), commandLine.argv(), commandLine.envp(),
                      relay.write.get(),  status.write.get(), devNull.get()};

  pid_t intermediate = ::_Fork();
  if (intermediate < 0) throwCannotStart(executable, errno);
  if (intermediate == 0) runIntermediate(setup);
  relay.write.reset();
  status.write.reset();
  devNull.reset();
  waitForExit(intermediate);

  // Starting is quick (an exec); the limit only guards against a relay that never reports.
  auto started = receive(status.read.get(), std::max(window, std::chrono::milliseconds(10000)));
  if (!started) throwCannotStart(executable, EIO);
  if (started->kind == kStartFailed) throwCannotStart(executable, started->value);

  DetachedResult result;
  setNonBlocking(relay.read.get());
  for (;;) {
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) break;
    auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    pollfd fds[2] = {{relay.read.get(), POLLIN, 0}, {status.read.get(), POLLIN, 0}};
    nfds_t count = relay.read.valid() ? 2 : 1;
    pollfd* first = relay.read.valid() ? fds : fds + 1;
    int ready = ::poll(first, count, static_cast<int>(remaining.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    if (relay.read.valid() && fds[0].revents != 0) {
      if (!readAvailable(relay.read.get(), result.standardError)) relay.read.reset();
    }
    if (fds[1].revents != 0) {
      auto message = receive(status.read.get(), std::chrono::milliseconds(0));
      if (message && message->kind == kExited) {
        // The relay forwarded everything the program wrote before it sent this.
        if (relay.read.valid()) readAvailable(relay.read.get(), result.standardError);
        result.exitStatus = message->value;
        break;
      }
      // The relay ended without news (it was killed): nothing more will be learnt.
      if (!message) break;
    }
    if (result.standardError.size() > kMaxDetachedError) {
      result.standardError.resize(kMaxDetachedError);
    }
  }
  if (result.standardError.size() > kMaxDetachedError) {
    result.standardError.resize(kMaxDetachedError);
  }
  result.stillRunning = !result.exitStatus.has_value();
  // Closing our ends tells the relay to stop forwarding; the program keeps running.
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
