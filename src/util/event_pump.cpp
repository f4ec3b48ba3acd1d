#include "util/event_pump.h"

#include <atomic>

namespace qm {
namespace {
std::atomic<EventPump*> g_pump{nullptr};
}  // namespace

void SetEventPump(EventPump* pump) { g_pump.store(pump); }
EventPump* CurrentEventPump() { return g_pump.load(); }

void PumpEvents() {
  EventPump* pump = g_pump.load();
  if (pump != nullptr && pump->OnOwnerThread()) pump->RunPending();
}

void PostToUi(std::function<void()> fn) {
  EventPump* pump = g_pump.load();
  if (pump != nullptr) {
    pump->Post(std::move(fn));
  } else if (fn) {
    fn();
  }
}

}  // namespace qm
