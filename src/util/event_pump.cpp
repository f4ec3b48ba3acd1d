#include "util/event_pump.h"

#include <atomic>

namespace qm {
namespace {
// Process-wide for the page driver's edge: its synchronous page calls run the
// UI thread's events while they wait, wherever they are called from. Runs and
// windows post their reports through a pump they are handed instead.
std::atomic<EventPump*> g_pump{nullptr};
}  // namespace

void SetEventPump(EventPump* pump) { g_pump.store(pump); }
EventPump* CurrentEventPump() { return g_pump.load(); }

void PumpEvents() {
  EventPump* pump = g_pump.load();
  if (pump != nullptr && pump->OnOwnerThread()) pump->RunPending();
}

}  // namespace qm
