#include "util/delay.h"

#include <chrono>
#include <thread>

#include "util/event_pump.h"

namespace qm {

void DelayWithEvents(int ms) {
  if (ms <= 0) return;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  EventPump* pump = CurrentEventPump();
  if (pump == nullptr || !pump->OnOwnerThread()) {
    std::this_thread::sleep_until(deadline);
    return;
  }
  // Events run as they arrive until the time is up; the wait sleeps between
  // them rather than polling.
  for (;;) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) break;
    pump->WaitAndRun(std::chrono::ceil<std::chrono::milliseconds>(left));
  }
}

}  // namespace qm
