#include "util/delay.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "util/event_pump.h"
#include "util/stop.h"

namespace qm {

void PauseUnlessCancelled(int ms, const std::function<bool()>& cancelled) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (!StopRequested() && !(cancelled && cancelled()) && Clock::now() < deadline)
    std::this_thread::sleep_until(std::min(deadline, Clock::now() + kStopPollSlice));
}

void DelayWithEvents(EventPump& pump, int ms) {
  if (ms <= 0) return;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  if (!pump.OnOwnerThread()) {
    while (!StopRequested() && Clock::now() < deadline)
      std::this_thread::sleep_until(std::min(deadline, Clock::now() + kStopPollSlice));
    return;
  }
  // Events run as they arrive until the time is up; the wait sleeps between
  // them rather than polling. A stop ends it early (whoever requests one also
  // wakes the pump).
  for (;;) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero() || StopRequested()) break;
    pump.WaitAndRun(std::min(std::chrono::ceil<std::chrono::milliseconds>(left),
                             std::chrono::milliseconds(kStopPollSlice)));
  }
}

}  // namespace qm
