#pragma once
// An event loop without windows: posted work and timers, run on the thread
// that made the loop. The headless runner and the tests install it as the
// event pump; waits anywhere in the program then run its events.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "util/event_pump.h"
#include "util/ports.h"

namespace qm {

class EventLoop : public EventPump {
 public:
  EventLoop();  // the calling thread owns the loop
  ~EventLoop() override;
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  void RunPending() override;
  bool WaitAndRun(std::chrono::milliseconds limit) override;
  void Post(std::function<void()> fn) override;
  bool OnOwnerThread() const override;

  // A timer whose ticks run `onTick` on the loop's thread. Setting an interval
  // (re)starts it with that period; 0 stops it. The loop owns the timer.
  Timer* NewTimer(std::function<void()> onTick);

  // Runs events until Quit; returns the code given to Quit.
  int Run();
  // Ends Run (from any thread) with `code`.
  void Quit(int code);
  bool QuitRequested() const;
  // Takes back a Quit, so that a loop ended for one step of the start-up
  // runs again for the next.
  void ClearQuit();

 private:
  class LoopTimer;
  using Clock = std::chrono::steady_clock;
  // Runs posted work and due timers; true when anything ran.
  bool RunReady();
  Clock::time_point NextDue() const;  // time_point::max() when no timer runs

  std::thread::id owner_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> posted_;
  std::vector<std::unique_ptr<LoopTimer>> timers_;
  bool quit_ = false;
  int quitCode_ = 0;
};

}  // namespace qm
