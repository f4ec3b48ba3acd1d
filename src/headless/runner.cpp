#include "headless/runner.h"

#include <cstdio>

namespace qm {
// Replaced by the real runner as the synchronisation and the timed work land.
int RunHeadless(int, char**) {
  std::fputs("quillmere: the headless runner is not available in this build\n", stderr);
  return 2;
}
}  // namespace qm
