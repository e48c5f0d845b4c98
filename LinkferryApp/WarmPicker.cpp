#include "WarmPicker.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <iostream>
#include <vector>

#include "foundation/SocketLines.h"
#include "launching/LaunchEnvironment.h"

namespace linkferry {

namespace {

using Clock = std::chrono::steady_clock;

// How long handing a request over may wait for a picker that reads nothing (it is stopped or
// hung); it then counts as lost and the click shows its own window.
constexpr timeval kSendTimeout{2, 0};

// How long a picker asked to end (SIGTERM) has before it is killed, in milliseconds.
constexpr int kEndPatience = 2000;

void logLine(const std::string& line) {
  std::cerr << "linkferry serve: " + line + "\n" << std::flush;
}

std::string howItEnded(int status) {
  if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "was ended by signal " + std::to_string(WTERMSIG(status));
  return "ended";
}

}  // namespace

std::optional<std::string> WarmPicker::displayOf(const Environment& environment) {
  for (const auto& [name, kind] : {std::pair{"WAYLAND_DISPLAY", "wayland:"}, {"DISPLAY", "x11:"}}) {
    if (auto found = environment.find(name); found != environment.end() && !found->second.empty()) {
      return kind + found->second;
    }
  }
  return std::nullopt;
}

WarmPicker::WarmPicker(Options options)
    : m_options(std::move(options)), m_display(displayOf(m_options.environment)) {
  if (!m_display || ::pipe2(m_wake, O_CLOEXEC) != 0) {
    m_state = State::stopped;
    return;
  }
  m_supervisor = std::thread([this] { supervise(); });
}

WarmPicker::~WarmPicker() {
  stop();
  for (int descriptor : m_wake) {
    if (descriptor >= 0) ::close(descriptor);
  }
}

void WarmPicker::stop() {
  {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
    m_state = State::stopped;
  }
  m_changed.notify_all();
  if (m_wake[1] >= 0) (void)!::write(m_wake[1], "x", 1);
  if (m_supervisor.joinable() && m_supervisor.get_id() != std::this_thread::get_id()) {
    m_supervisor.join();
  }
}

bool WarmPicker::servesDisplayOf(const Environment& environment) const {
  const std::optional<std::string> display = displayOf(environment);
  return m_display && display == m_display;
}

WarmPicker::Shown WarmPicker::show(const PickerProtocol::Input& input, const Environment& focus) {
  PickerProtocol::WarmRequest request{input, {}};
  for (std::string_view name : LaunchEnvironment::focusVariables()) {
    if (auto found = focus.find(std::string(name)); found != focus.end()) {
      request.focus.insert(*found);
    }
  }
  const std::string line = Json::encodeCompact(request.toJson()) + "\n";

  std::unique_lock lock(m_mutex);
  if (m_state != State::ready || m_socket < 0) return {};
  m_state = State::busy;
  m_answer.reset();
  try {
    // Under the lock, so the socket stays this picker's while it is written; the picker reads
    // its request at once, and a picker that does not is given up after the send timeout.
    SocketLines::send(m_socket, line, "cannot hand the click to the warm picker");
  } catch (const std::exception& error) {
    logLine(error.what());
    // The supervisor sees the picker end and starts the next one.
    return {Shown::Kind::lost};
  }
  m_changed.wait(lock, [this] { return m_answer || m_state != State::busy; });
  if (!m_answer) return {Shown::Kind::lost};
  try {
    const JsonValue document = Json::parse(*m_answer, "the warm picker's answer");
    return {Shown::Kind::answered,
            PickerProtocol::Answer::fromJson(JsonReader(document, "the warm picker's answer"))};
  } catch (const std::exception& error) {
    logLine(error.what());
    return {Shown::Kind::lost};
  }
}

bool WarmPicker::awaitReady(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(m_mutex);
  return m_changed.wait_for(lock, timeout, [this] {
    return m_state == State::ready || m_state == State::stopped;
  }) && m_state == State::ready;
}

JsonValue WarmPicker::status() const {
  std::lock_guard lock(m_mutex);
  JsonValue json = {{"state", toString(m_state)}, {"starts", m_starts}};
  if (m_pid > 0) json["pid"] = m_pid;
  if (m_display) json["display"] = *m_display;
  return json;
}

const char* WarmPicker::toString(State state) {
  switch (state) {
    case State::starting:
      return "starting";
    case State::ready:
      return "ready";
    case State::busy:
      return "busy";
    case State::waiting:
      return "waiting";
    case State::stopped:
      return "stopped";
  }
  return "stopped";
}

void WarmPicker::supervise() {
  std::chrono::milliseconds delay{0};
  for (;;) {
    if (delay.count() > 0) {
      {
        std::lock_guard lock(m_mutex);
        if (m_stopping) return;
        m_state = State::waiting;
      }
      if (m_options.onBackoff) m_options.onBackoff(delay);
      if (!waitOut(delay)) return;
    }
    std::optional<Clock::time_point> readyAt;
    const bool answered = runOne(readyAt);
    {
      std::lock_guard lock(m_mutex);
      if (m_stopping) return;
    }
    if (answered || (readyAt && Clock::now() - *readyAt >= m_options.settled)) {
      delay = std::chrono::milliseconds(0);
    } else if (delay.count() == 0) {
      delay = m_options.firstBackoff;
    } else {
      delay = std::min(delay * 2, m_options.maxBackoff);
    }
    if (!answered) {
      logLine("the warm picker will be started again in " + std::to_string(delay.count()) + " ms");
    }
  }
}

bool WarmPicker::waitOut(std::chrono::milliseconds delay) {
  std::unique_lock lock(m_mutex);
  return !m_changed.wait_for(lock, delay, [this] { return m_stopping; });
}

bool WarmPicker::runOne(std::optional<std::chrono::steady_clock::time_point>& readyAt) {
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    logLine(std::string("cannot start the warm picker: ") + std::strerror(errno));
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pair[1], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, pair[1], STDOUT_FILENO);
  // Whatever a library of the service left open without close-on-exec stays with the service.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  std::vector<std::string> words{m_options.program, "--warm"};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  std::vector<std::string> variables;
  for (const auto& [name, value] : m_options.environment) variables.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(pair[1]);
  if (spawned != 0) {
    ::close(pair[0]);
    logLine("cannot start " + m_options.program + ": " + std::strerror(spawned));
    return false;
  }
  (void)::setsockopt(pair[0], SOL_SOCKET, SO_SNDTIMEO, &kSendTimeout, sizeof kSendTimeout);
  {
    std::lock_guard lock(m_mutex);
    m_pid = pid;
    m_socket = pair[0];
    ++m_starts;
    if (!m_stopping) m_state = State::starting;
  }

  bool answered = false;
  bool ending = false;
  std::string buffer;
  for (;;) {
    pollfd watched[2] = {{pair[0], POLLIN, 0}, {m_wake[0], POLLIN, 0}};
    const int polled = ::poll(watched, ending ? 1 : 2, ending ? kEndPatience : -1);
    if (polled < 0 && errno == EINTR) continue;
    if (polled < 0) break;
    if (polled == 0) {
      // Asked to end, it did not: it goes now.
      ::kill(pid, SIGKILL);
      break;
    }
    if (!ending && watched[1].revents != 0) {
      // stop(): the picker goes, whatever it was doing.
      ending = true;
      ::kill(pid, SIGTERM);
    }
    if (watched[0].revents == 0) continue;
    char bytes[4096];
    const ssize_t got = ::read(pair[0], bytes, sizeof bytes);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    buffer.append(bytes, static_cast<std::size_t>(got));
    for (std::size_t end; (end = buffer.find('\n')) != std::string::npos;) {
      const std::string line = buffer.substr(0, end);
      buffer.erase(0, end + 1);
      std::lock_guard lock(m_mutex);
      if (line == PickerProtocol::kWarmReady && m_state == State::starting) {
        m_state = State::ready;
        readyAt = Clock::now();
      } else if (m_state == State::busy && !answered) {
        m_answer = line;
        answered = true;
      }
      m_changed.notify_all();
    }
  }

  {
    std::lock_guard lock(m_mutex);
    m_socket = -1;
    m_pid = -1;
    if (!m_stopping) m_state = State::starting;
  }
  m_changed.notify_all();
  ::close(pair[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!answered && !ending) logLine("the warm picker " + howItEnded(status));
  return answered;
}

}  // namespace linkferry
