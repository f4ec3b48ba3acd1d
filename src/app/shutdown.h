#pragma once
// How the desktop program ends. Every end is an immediate process exit: open
// files, the database and the timers are released by the process end, and the
// seller's run lock with them. Tests install a handler that only
// records the code; callers therefore return at once after EndProgram.
#include <functional>

namespace qm {

// Ends the program with `code` (the handler when one is installed).
void EndProgram(int code);

// For tests: replaces the process exit; nullptr restores it.
void SetEndHandler(std::function<void(int)> handler);

// Runs just before the process exits (the tray icon is removed there).
void SetBeforeEnd(std::function<void()> hook);

}  // namespace qm
