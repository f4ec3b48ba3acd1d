#include "app/startup_marks.h"

#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>

namespace qm {
namespace {

// The program's own start; read only on the window thread.
QElapsedTimer& Clock() {
  static QElapsedTimer clock;
  return clock;
}

}  // namespace

void StartStartupClock() { Clock().start(); }

void StartupMark(const char* what) {
  if (std::getenv("QM_STARTUP_MARK") == nullptr) return;
  std::printf("QM_STARTUP_MARK %s %lld ms\n", what, static_cast<long long>(Clock().isValid() ? Clock().elapsed() : 0));
  std::fflush(stdout);
}

}  // namespace qm
