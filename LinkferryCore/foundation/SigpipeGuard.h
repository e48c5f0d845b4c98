#pragma once

#include <signal.h>

namespace linkferry {

// Blocks SIGPIPE for the calling thread while it lives, so that a write to a pipe or socket whose
// reader is gone gives EPIPE instead of ending the process (a library that writes without
// MSG_NOSIGNAL included). A SIGPIPE raised meanwhile is consumed before the thread's old mask
// comes back; one that was already blocked and pending before is left alone.
class SigpipeGuard {
 public:
  SigpipeGuard() noexcept;
  ~SigpipeGuard();
  SigpipeGuard(const SigpipeGuard&) = delete;
  SigpipeGuard& operator=(const SigpipeGuard&) = delete;

 private:
  sigset_t m_old;
};

}  // namespace linkferry
