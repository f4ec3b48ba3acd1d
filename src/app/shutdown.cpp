#include "app/shutdown.h"

#include <cstdio>
#include <cstdlib>

namespace qm {

void EndProgram(int code) {
  std::fflush(nullptr);
  // No destructors: windows, the database and the locked run lock file are left
  // to the process end, as everywhere else in the program.
  std::_Exit(code);
}

}  // namespace qm
