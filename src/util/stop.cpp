#include "util/stop.h"

#include <signal.h>

#include <atomic>

namespace qm {
namespace {
// Process-wide: a stop signal is sent to the process, and every wait of every
// thread ends on it.
std::atomic<bool> g_stop{false};

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}
static_assert(std::atomic<bool>::is_always_lock_free, "the stop must be settable from a signal handler");
}  // namespace

void RequestStop() noexcept { g_stop.store(true, std::memory_order_release); }
bool StopRequested() noexcept { return g_stop.load(std::memory_order_acquire); }
void ClearStopRequest() noexcept { g_stop.store(false, std::memory_order_release); }

void BlockStopSignals() {
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  const sigset_t set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

const char* WaitForStopSignal() {
  const sigset_t set = StopSignals();
  int sig = 0;
  while (sigwait(&set, &sig) != 0) {
  }
  return sig == SIGINT ? "SIGINT" : "SIGTERM";
}

}  // namespace qm
