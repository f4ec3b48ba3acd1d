#pragma once
// A delay that keeps the program answering, and a pause for workers.
#include <functional>

namespace qm {

// Returns after at least `ms` milliseconds. On the UI thread it runs the
// events of the current EventPump throughout (waiting for them, not spinning);
// elsewhere or without a pump it sleeps. At most 0 returns at once; a
// requested stop (util/stop.h) ends it early.
void DelayWithEvents(int ms);

// Off the UI thread: sleeps `ms` milliseconds, in slices, until `cancelled`
// says true (or a stop is requested). No events run.
void PauseUnlessCancelled(int ms, const std::function<bool()>& cancelled);

}  // namespace qm
