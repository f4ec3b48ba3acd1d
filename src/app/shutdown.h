#pragma once
// How the desktop program ends. Every end is an immediate process exit: open
// files, the database and the timers are released by the process end, and the
// seller's run lock with them. Callers return at once after EndProgram (the
// desktop tests link an end that only records the code).
#include <functional>

namespace qm {

// Ends the program with `code`.
void EndProgram(int code);

// Runs just before the process exits (the tray icon is removed there).
void SetBeforeEnd(std::function<void()> hook);

}  // namespace qm
