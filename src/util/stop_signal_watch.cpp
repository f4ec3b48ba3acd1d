#include "util/stop_signal_watch.h"

#include <chrono>
#include <utility>

#include "util/stop.h"

namespace qm {
namespace {
// How often the waiting thread looks whether its watch is ending: only the
// end of the watch waits for it.
constexpr std::chrono::milliseconds kWatchSlice{100};
}  // namespace

StopSignalWatch::StopSignalWatch(std::function<void(const char* name)> onSignal) : onSignal_(std::move(onSignal)) {
  BlockStopSignals();
  thread_ = std::thread([this] { Watch(); });
}

StopSignalWatch::~StopSignalWatch() {
  ending_.store(true);
  thread_.join();
}

void StopSignalWatch::Watch() {
  while (!ending_.load()) {
    const char* name = WaitForStopSignal(kWatchSlice);
    if (name == nullptr) continue;
    RequestStop();
    if (onSignal_) onSignal_(name);
  }
}

}  // namespace qm
