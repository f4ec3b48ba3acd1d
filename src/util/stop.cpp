#include "util/stop.h"

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <ctime>

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

const char* WaitForStopSignal(std::chrono::milliseconds limit) {
  const sigset_t set = StopSignals();
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const auto left = std::max(deadline - std::chrono::steady_clock::now(), std::chrono::steady_clock::duration::zero());
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
    timespec wait{};
    wait.tv_sec = static_cast<time_t>(seconds.count());
    wait.tv_nsec = static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(left - seconds).count());
    const int sig = sigtimedwait(&set, nullptr, &wait);
    if (sig == SIGINT) return "SIGINT";
    if (sig == SIGTERM) return "SIGTERM";
    // EINTR: another signal's handler ran; the rest of the limit is waited.
    if (errno != EINTR) return nullptr;
  }
}

}  // namespace qm
