#pragma once
// A clock of elapsed time that setting the machine's date does not move and
// that goes on while the machine sleeps or the process is stopped: the
// platform's time is carried forward on it between two readings.
namespace qm {

// Seconds since some fixed moment (the machine's start).
double ElapsedSeconds();

}  // namespace qm
