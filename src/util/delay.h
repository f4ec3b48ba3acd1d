#pragma once
// A delay that keeps the program answering, and a pause for workers.
#include <functional>

namespace qm {

class EventPump;

// Returns after at least `ms` milliseconds. On the pump's own thread it runs
// the pump's events throughout (waiting for them, not spinning); on any other
// thread it sleeps. At most 0 returns at once; a requested stop (util/stop.h)
// ends it early.
void DelayWithEvents(EventPump& pump, int ms);

// Off the UI thread: sleeps `ms` milliseconds, in slices, until `cancelled`
// says true (or a stop is requested). No events run.
void PauseUnlessCancelled(int ms, const std::function<bool()>& cancelled);

}  // namespace qm
