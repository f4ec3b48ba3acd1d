#include "util/threads.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "util/event_pump.h"
#include "util/stop.h"

namespace qm {
namespace {

// What is known of one started thread. The thread itself holds a reference,
// so the record outlives a Close made while it still runs.
struct ThreadRecord {
  std::mutex mutex;
  std::condition_variable ended_cv;
  bool ended = false;
  std::uint32_t exitCode = kStillActive;
  // Pumps whose owner is inside WaitFor on this thread; each gets a wake-up
  // when the thread ends, so the wait does not sit out its limit.
  std::vector<EventPump*> waitingPumps;
};

class ThreadRegistry {
 public:
  std::uint32_t Add(std::shared_ptr<ThreadRecord> record) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::uint32_t handle;
    do {
      handle = next_++;
    } while (handle == 0 || records_.count(handle) != 0);
    records_.emplace(handle, std::move(record));
    return handle;
  }
  std::shared_ptr<ThreadRecord> Find(std::uint32_t handle) {
    if (handle == 0) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = records_.find(handle);
    return it == records_.end() ? nullptr : it->second;
  }
  bool Remove(std::uint32_t handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_.erase(handle) != 0;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<std::uint32_t, std::shared_ptr<ThreadRecord>> records_;
  std::uint32_t next_ = 0x100;
};

ThreadRegistry& Registry() {
  static ThreadRegistry* registry = new ThreadRegistry;  // threads may outlive static destruction
  return *registry;
}

void RunThread(const ThreadProc& proc, std::uint32_t param, const std::shared_ptr<ThreadRecord>& record) {
  std::uint32_t code;
  try {
    code = proc(param);
  } catch (...) {
    code = kThreadFailedExitCode;
  }
  std::lock_guard<std::mutex> lock(record->mutex);
  record->exitCode = code;
  record->ended = true;
  record->ended_cv.notify_all();
  // Posted under the record's lock: a waiter cannot leave WaitFor (and its
  // pump cannot go away) before the wake-up is queued.
  for (EventPump* pump : record->waitingPumps) pump->Post([] {});
}

}  // namespace

bool StartThread(ThreadProc proc, std::uint32_t param, std::uint32_t* outHandle) {
  if (outHandle != nullptr) *outHandle = 0;
  if (!proc) return false;
  auto record = std::make_shared<ThreadRecord>();
  const std::uint32_t handle = outHandle != nullptr ? Registry().Add(record) : 0;
  try {
    std::thread([proc = std::move(proc), param, record] { RunThread(proc, param, record); }).detach();
  } catch (...) {  // std::system_error: no thread could be made
    if (handle != 0) Registry().Remove(handle);
    return false;
  }
  if (outHandle != nullptr) *outHandle = handle;
  return true;
}

bool ThreadUtil::Start(ThreadProc proc, std::uint32_t param, std::uint32_t* outHandle, bool keep) const {
  if (keep && outHandle != nullptr) return StartThread(std::move(proc), param, outHandle);
  if (outHandle != nullptr) *outHandle = 0;
  return StartThread(std::move(proc), param, nullptr);
}

bool ThreadUtil::WaitFor(std::uint32_t thread, int limitMs) const {
  const std::shared_ptr<ThreadRecord> record = Registry().Find(thread);
  if (!record) return false;
  // A negative limit waits without one (the platform's INFINITE is -1).
  const bool unlimited = limitMs < 0;
  const auto limit = std::chrono::milliseconds(unlimited ? 0 : limitMs);

  EventPump* pump = CurrentEventPump();
  if (pump == nullptr || !pump->OnOwnerThread()) {
    // In slices, so that a requested stop ends the wait too.
    const auto end = std::chrono::steady_clock::now() + limit;
    std::unique_lock<std::mutex> lock(record->mutex);
    while (!record->ended && !StopRequested()) {
      const auto now = std::chrono::steady_clock::now();
      if (!unlimited && now >= end) break;
      const auto slice = now + kStopPollSlice;
      record->ended_cv.wait_until(lock, unlimited ? slice : std::min(end, slice));
    }
    return record->ended;
  }

  {
    std::lock_guard<std::mutex> lock(record->mutex);
    if (record->ended) return true;
    record->waitingPumps.push_back(pump);
  }
  bool ended = false;
  for (;;) {
    // Every event restarts the limit; a full limit without any event ends the
    // wait. The thread's end arrives as an event of its own.
    const bool eventRan =
        unlimited ? pump->WaitAndRun(std::chrono::hours(24)) : pump->WaitAndRun(limit);
    {
      std::lock_guard<std::mutex> lock(record->mutex);
      ended = record->ended;
    }
    if (ended || (!eventRan && !unlimited) || limit.count() == 0 || StopRequested()) break;
  }
  std::lock_guard<std::mutex> lock(record->mutex);
  auto& pumps = record->waitingPumps;
  auto it = std::find(pumps.begin(), pumps.end(), pump);
  if (it != pumps.end()) pumps.erase(it);
  return record->ended;
}

// Suspending, resuming and killing a thread at an arbitrary point cannot be
// done safely here: POSIX has no way to suspend a thread, and stopping one
// from outside would leave its locks held and its data half-written. The three
// operations therefore do nothing and report failure.
bool ThreadUtil::Suspend(std::uint32_t) const { return false; }
bool ThreadUtil::Resume(std::uint32_t) const { return false; }
bool ThreadUtil::Terminate(std::uint32_t) const { return false; }

std::uint32_t ThreadUtil::ExitCode(std::uint32_t thread) const {
  const auto record = Registry().Find(thread);
  if (!record) return 0;
  std::lock_guard<std::mutex> lock(record->mutex);
  return record->ended ? record->exitCode : kStillActive;
}

int ThreadUtil::State(std::uint32_t thread) const {
  const auto record = Registry().Find(thread);
  if (!record) return kThreadInvalid;
  std::lock_guard<std::mutex> lock(record->mutex);
  // The ended flag, not the exit code: a procedure that returns 259 has ended too.
  return record->ended ? kThreadEnded : kThreadRunning;
}

bool ThreadUtil::Close(std::uint32_t thread) const { return thread != 0 && Registry().Remove(thread); }

std::uint32_t ThreadUtil::CurrentThreadId() {
  static std::atomic<std::uint32_t> next{1};
  thread_local const std::uint32_t id = next.fetch_add(1);
  return id;
}

}  // namespace qm
