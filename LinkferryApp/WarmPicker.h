#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "PickerProtocol.h"
#include "foundation/Json.h"

namespace linkferry {

// The picker window the service keeps ready: a `linkferry-picker --warm` process started with the
// service on the service's display, GTK running and its window's parts loaded, waiting on a socket
// for one click's request. A click shown there skips a process start, GTK's start and `linkferry
// open`: the window is up in the time it takes to build its rows.
//
// One window per process: after its answer the picker ends and a fresh one is started, so no
// state of one click reaches the next. A picker that ends without an answer (it crashed, was
// killed, could not open the display) is started again after a back-off that doubles while
// pickers keep dying before they have stayed up a while, so one that crashes at start is not
// restarted in a loop.
//
// Threads: a supervisor thread starts the pickers and reads what they say; show() is called by
// the service's workers, one click at a time (a second click meanwhile is told the picker is
// busy and shows its own window). Every public operation is safe from any thread.
class WarmPicker {
 public:
  using Environment = std::map<std::string, std::string>;

  struct Options {
    std::string program;      // the `linkferry-picker` to run with --warm
    Environment environment;  // the picker's environment: the service's, its display
    std::chrono::milliseconds firstBackoff{kFirstBackoff};
    std::chrono::milliseconds maxBackoff{kMaxBackoff};
    // A picker that was ready this long before it died without an answer started well: the next
    // one starts at once.
    std::chrono::milliseconds settled{kSettled};
    // Told every back-off before it is waited out (tests follow the restarts through it).
    std::function<void(std::chrono::milliseconds)> onBackoff{};
  };
  static constexpr std::chrono::milliseconds kFirstBackoff{1000};
  static constexpr std::chrono::milliseconds kMaxBackoff{5 * 60'000};
  static constexpr std::chrono::milliseconds kSettled{60'000};

  // The display a process with `environment` shows its windows on ("wayland:" + WAYLAND_DISPLAY
  // when set, else "x11:" + DISPLAY, as GTK chooses); nothing without one.
  static std::optional<std::string> displayOf(const Environment& environment);

  // Starts the first picker at once. Nothing is started when the environment has no display.
  explicit WarmPicker(Options options);
  // stop().
  ~WarmPicker();
  WarmPicker(const WarmPicker&) = delete;
  WarmPicker& operator=(const WarmPicker&) = delete;

  // Ends the picker (a window being shown closes, its show() gives `lost`) and starts none again.
  void stop();

  // Whether a click made in `environment` is on this picker's display.
  bool servesDisplayOf(const Environment& environment) const;

  struct Shown {
    enum class Kind {
      unavailable,  // no picker ready (starting, busy, waiting out a back-off, stopped)
      answered,     // the user answered: `answer`
      lost,         // the picker took the request but ended without an answer
    };
    Kind kind = Kind::unavailable;
    PickerProtocol::Answer answer{};
  };
  // Shows `input` and waits for the user's answer, however long that takes. `focus` holds the
  // click's focus variables (XDG_ACTIVATION_TOKEN, DESKTOP_STARTUP_ID; others are not passed).
  // Never throws.
  Shown show(const PickerProtocol::Input& input, const Environment& focus);

  // Waits at most `timeout` for a picker to be ready; false when none is by then (or stopped).
  bool awaitReady(std::chrono::milliseconds timeout) const;

  // {"state": "starting" | "ready" | "busy" | "waiting" | "stopped", "pid" (while a picker runs),
  // "starts": pickers started so far, "display"}.
  JsonValue status() const;

 private:
  enum class State { starting, ready, busy, waiting, stopped };
  static const char* toString(State state);

  void supervise();
  // Starts one picker and follows it until it ends; true when it answered a click. `readyAt`
  // is when it said it was ready, if it did.
  bool runOne(std::optional<std::chrono::steady_clock::time_point>& readyAt);
  // Waits `delay` unless stopped first; false when stopped.
  bool waitOut(std::chrono::milliseconds delay);

  const Options m_options;
  const std::optional<std::string> m_display;

  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  State m_state = State::starting;
  bool m_stopping = false;
  pid_t m_pid = -1;
  int m_socket = -1;  // our end, while a picker runs
  std::size_t m_starts = 0;
  std::optional<std::string> m_answer;  // the line the busy picker answered
  int m_wake[2] = {-1, -1};             // written by stop() to end the supervisor's waits
  std::thread m_supervisor;
};

}  // namespace linkferry
