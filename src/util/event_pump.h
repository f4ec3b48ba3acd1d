#pragma once
// The event pump: how waits on the UI thread keep the program answering.
//
// The desktop installs a Qt adapter; the headless runner and the tests install
// the in-memory EventLoop (event_loop.h). Every wait of the program (network
// waits, delays, the pauses of the first load) goes through the pump that is
// current, so handlers can run inside one another as on the desktop.
#include <chrono>
#include <functional>

namespace qm {

class EventPump {
 public:
  virtual ~EventPump() = default;
  // Runs the events that are pending now, once; returns at once when there are none.
  virtual void RunPending() = 0;
  // Waits up to `limit` for an event and runs what is pending. Returns true when
  // an event arrived (and ran) before the limit, false when the limit passed idle.
  virtual bool WaitAndRun(std::chrono::milliseconds limit) = 0;
  // Queues `fn` to run on the pump's own thread. Safe from any thread; it also
  // wakes a WaitAndRun that is in progress.
  virtual void Post(std::function<void()> fn) = 0;
  // True on the thread that runs this pump's events.
  virtual bool OnOwnerThread() const = 0;
};

// The process-wide pump; nullptr until the desktop or the runner installs one.
void SetEventPump(EventPump* pump);
EventPump* CurrentEventPump();

// Runs pending events when called on the pump's own thread; elsewhere (worker
// threads) and without a pump it does nothing.
void PumpEvents();

// Queues `fn` for the UI thread: through the current pump when there is one,
// otherwise it runs at once on the calling thread.
void PostToUi(std::function<void()> fn);

}  // namespace qm
