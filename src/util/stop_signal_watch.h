#pragma once
// The watch over SIGINT and SIGTERM (on Windows, the console events that stand
// for them) while a front end runs: one thread of its own takes them, each
// one requests the stop (util/stop.h) and is then handed on by name.
#include <atomic>
#include <functional>
#include <thread>

namespace qm {

class StopSignalWatch {
 public:
  // Blocks the signals in the calling thread and every thread it starts later
  // (so it is made, or BlockStopSignals called, before any other thread
  // starts) and starts the waiting thread. `onSignal` runs on that thread,
  // after the stop is requested, with the signal's name ("SIGINT", "SIGTERM").
  explicit StopSignalWatch(std::function<void(const char* name)> onSignal);
  // Ends the waiting thread, within a tenth of a second; a signal that comes
  // after stays pending, blocked.
  ~StopSignalWatch();
  StopSignalWatch(const StopSignalWatch&) = delete;
  StopSignalWatch& operator=(const StopSignalWatch&) = delete;

 private:
  void Watch();

  std::function<void(const char*)> onSignal_;
  std::atomic<bool> ending_{false};
  std::thread thread_;
};

}  // namespace qm
