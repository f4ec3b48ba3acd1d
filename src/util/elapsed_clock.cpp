#include "util/elapsed_clock.h"

#include <time.h>

namespace qm {

double ElapsedSeconds() {
  // CLOCK_BOOTTIME counts the time suspended as well, unlike CLOCK_MONOTONIC:
  // a laptop that slept an hour must find an hour gone.
  timespec t{};
  if (clock_gettime(CLOCK_BOOTTIME, &t) != 0) clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace qm
