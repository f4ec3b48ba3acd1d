#pragma once
// The longest stall of the run's event loop while some work runs on it: a
// 1 ms timer ticks throughout, and the longest gap between its ticks (or
// between the last tick and the work's end) is the stall.
#include <algorithm>
#include <chrono>

#include "support/rating_world.h"

namespace qm::bench {

struct Stall {
  double wallSeconds = 0;     // the work, start to end
  double longestSeconds = 0;  // the longest the loop went without a tick
};

template <class Work>
Stall MeasureStall(test::RatingWorld& world, Work work) {
  using Clock = std::chrono::steady_clock;
  const auto seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
  const auto t0 = Clock::now();
  auto last = t0;
  Stall stall;
  Timer* probe = world.Loop().NewTimer([&] {
    const auto now = Clock::now();
    stall.longestSeconds = std::max(stall.longestSeconds, seconds(now - last));
    last = now;
  });
  probe->SetInterval(1);
  last = Clock::now();
  work();
  const auto end = Clock::now();
  stall.longestSeconds = std::max(stall.longestSeconds, seconds(end - last));
  probe->SetInterval(0);
  stall.wallSeconds = seconds(end - t0);
  return stall;
}

}  // namespace qm::bench
