#include "util/elapsed_clock.h"

#include <windows.h>

namespace qm {

double ElapsedSeconds() {
  // The tick count goes on while the machine sleeps, and setting the date
  // leaves it alone.
  return static_cast<double>(GetTickCount64()) / 1000.0;
}

}  // namespace qm
