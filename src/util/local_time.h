#pragma once
// The machine's own clock and zone, for the times shown to the user for their
// own actions (the runner's log lines). Everything the platform sees goes
// through the platform's clock (platform/platform_time.h) instead.
#include <ctime>
#include <string>

namespace qm {

// "HH:MM:SS" of `when` in the machine's zone.
std::string LocalTimeOfDay(std::time_t when);

}  // namespace qm
