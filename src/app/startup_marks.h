#pragma once
// The start-up's milestones, for the start-up benchmark: with QM_STARTUP_MARK
// set in the environment, each step that reaches one prints
// "QM_STARTUP_MARK <what> <ms>" (milliseconds since the program started) on
// standard output. Without it nothing is printed.

namespace qm {

// Called once, first thing in main: the clock's start.
void StartStartupClock();
void StartupMark(const char* what);

}  // namespace qm
