#pragma once
// The one place a caller on the UI thread waits for work done elsewhere: the
// edges of the program, before any run exists (the start-up's session check)
// and the login page, where the next step truly needs the answer. The work
// runs on a thread of its own; meanwhile the UI thread runs its events, so
// the window paints and answers. Nothing of a seller's run may call this.
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "util/event_pump.h"

namespace qm {

// Runs `work` off the calling thread and returns its result. On the event
// pump's own thread events run while it works; elsewhere the caller just waits.
template <class Result>
Result AwaitWork(std::function<Result()> work) {
  auto result = std::make_shared<Result>();
  auto done = std::make_shared<std::atomic<bool>>(false);
  EventPump* pump = CurrentEventPump();
  const bool pumping = pump != nullptr && pump->OnOwnerThread();
  std::thread worker([work = std::move(work), result, done, pump, pumping] {
    *result = work();
    done->store(true);
    if (pumping) pump->Post([] {});  // wakes the wait below
  });
  if (pumping) {
    while (!done->load()) pump->WaitAndRun(std::chrono::milliseconds(200));
    // What the work posted before it ended runs before the caller goes on.
    pump->RunPending();
  }
  worker.join();
  return std::move(*result);
}

}  // namespace qm
