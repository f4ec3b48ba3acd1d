#pragma once
// The event pump: the queue through which work done on other threads reports
// back to the thread that owns the pump (Post), and the one way the page
// driver's synchronous page calls keep that thread answering while they wait
// (RunPending, WaitAndRun). Whoever makes a pump hands it to what needs it.
//
// The desktop has a Qt adapter; the headless runner and the tests use the
// in-memory EventLoop (event_loop.h).
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

}  // namespace qm
