#pragma once
// The wall and processor times the loads report.
#include <chrono>
#include <ctime>

namespace qm {

using LoadClock = std::chrono::steady_clock;

inline double SecondsSince(LoadClock::time_point start) {
  return std::chrono::duration<double>(LoadClock::now() - start).count();
}

// Processor time the calling thread has used.
inline double ThreadCpuSeconds() {
  timespec ts{};
  if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) != 0) return 0;
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace qm
