#include "app/shutdown.h"

#include <cstdio>
#include <cstdlib>

namespace qm {
namespace {
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
  std::fflush(nullptr);
  // No destructors: windows, the database and the locked run lock file are left
  // to the process end, as everywhere else in the program.
  std::_Exit(code);
}

}  // namespace qm
