#pragma once
// How the desktop program ends. Every end is an immediate process exit: open
// files, the database and the timers are released by the process end, and the
// seller's run lock with them. Callers return at once after an end.
#include <functional>

namespace qm {

// An end of the program with its exit code, handed to the windows that may
// end it. The entry hands EndProgram to the main window, which keeps what it
// must first and hands its own end to the windows it opens; tests hand one
// that records the code.
using ProgramEnd = std::function<void(int code)>;

// Ends the process with `code`.
void EndProgram(int code);

}  // namespace qm
