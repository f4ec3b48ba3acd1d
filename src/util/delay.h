#pragma once
// A delay that keeps the program answering.

namespace qm {

// Returns after at least `ms` milliseconds. On the UI thread it runs the
// events of the current EventPump throughout (waiting for them, not spinning);
// elsewhere or without a pump it sleeps. At most 0 returns at once; a
// requested stop (util/stop.h) ends it early.
void DelayWithEvents(int ms);

}  // namespace qm
