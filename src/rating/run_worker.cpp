#include "rating/run_worker.h"

#include <algorithm>
#include <chrono>

#include "util/event_pump.h"
#include "util/stop.h"

namespace qm {

// What the worker thread and the reports it posts share: they may outlive the
// RunWorker, and then do nothing.
struct RunWorker::Shared {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<Job> jobs;
  bool alive = true;
};

RunWorker::RunWorker(EventPump& pump) : shared_(std::make_shared<Shared>()) {
  thread_ = std::thread([shared = shared_, &pump, this] {
    for (;;) {
      Job job;
      {
        std::unique_lock<std::mutex> lock(shared->mutex);
        shared->wake.wait(lock, [&] { return !shared->alive || !shared->jobs.empty(); });
        if (!shared->alive) return;
        job = std::move(shared->jobs.front());
        shared->jobs.pop_front();
      }
      std::function<void()> report = job();
      pump.Post([shared, report = std::move(report), this] {
        {
          std::lock_guard<std::mutex> lock(shared->mutex);
          if (!shared->alive) return;
        }
        --pending_;
        report();
      });
    }
  });
}

RunWorker::~RunWorker() {
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->alive = false;
    shared_->jobs.clear();
  }
  shared_->wake.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool RunWorker::Pause(int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  std::unique_lock<std::mutex> lock(shared_->mutex);
  while (shared_->alive && !StopRequested()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) return true;
    shared_->wake.wait_until(lock, std::min(end, now + kStopPollSlice));
  }
  return false;
}

bool RunWorker::Ending() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return !shared_->alive;
}

void RunWorker::Enqueue(Job job) {
  ++pending_;
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->jobs.push_back(std::move(job));
  }
  shared_->wake.notify_one();
}

}  // namespace qm
