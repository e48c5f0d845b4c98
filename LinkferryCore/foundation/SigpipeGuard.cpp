#include "foundation/SigpipeGuard.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>

namespace linkferry {
namespace {

sigset_t onlySigpipe() {
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  return pipe;
}

}  // namespace

SigpipeGuard::SigpipeGuard() noexcept {
  const sigset_t pipe = onlySigpipe();
  ::pthread_sigmask(SIG_BLOCK, &pipe, &m_old);
}

SigpipeGuard::~SigpipeGuard() {
  if (!sigismember(&m_old, SIGPIPE)) {
    sigset_t pending;
    sigemptyset(&pending);
    if (::sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE)) {
      const sigset_t pipe = onlySigpipe();
      const timespec zero{0, 0};
      while (::sigtimedwait(&pipe, nullptr, &zero) < 0 && errno == EINTR) {
      }
    }
  }
  ::pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
}

}  // namespace linkferry
