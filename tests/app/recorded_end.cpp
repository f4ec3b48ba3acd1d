#include "recorded_end.h"

#include <cstdio>
#include <cstdlib>

#include "app/shutdown.h"

namespace qm {
namespace {
std::function<void(int)>& Recorder() {
  static std::function<void(int)> recorder;
  return recorder;
}
std::function<void()>& BeforeEnd() {
  static std::function<void()> hook;
  return hook;
}
}  // namespace

void SetBeforeEnd(std::function<void()> hook) { BeforeEnd() = std::move(hook); }

void EndProgram(int code) {
  if (BeforeEnd()) {
    auto hook = BeforeEnd();
    hook();
  }
  if (!Recorder()) {
    std::fprintf(stderr, "EndProgram(%d) with no EndRecorder in place\n", code);
    std::abort();
  }
  Recorder()(code);
}

namespace test {
void RecordProgramEnds(std::function<void(int)> recorder) { Recorder() = std::move(recorder); }
}  // namespace test

}  // namespace qm
