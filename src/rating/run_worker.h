#pragma once
// The run's network work, off the UI thread. Each job runs on the run's one
// worker thread, in the order given, and hands back a report that runs on the
// UI thread (through the pump's queue), where the run decides what follows.
// No job touches the run's objects: it takes copies of what it sends and
// returns what it read.
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace qm {

class EventPump;

class RunWorker {
 public:
  explicit RunWorker(EventPump& pump);
  // Ends the worker after the job in hand; reports not yet run are dropped.
  ~RunWorker();
  RunWorker(const RunWorker&) = delete;
  RunWorker& operator=(const RunWorker&) = delete;

  // Runs `work` on the worker, then `report` with its result on the UI thread.
  template <class Result>
  void Run(std::function<Result()> work, std::function<void(Result)> report) {
    Enqueue([work = std::move(work), report = std::move(report)]() -> std::function<void()> {
      auto result = std::make_shared<Result>(work());
      return [report, result] { report(std::move(*result)); };
    });
  }

  // From inside a job: waits `ms` unless the worker ends or a stop is
  // requested first; false then.
  bool Pause(int ms);
  // The worker is ending (from any thread): a job should stop where it is.
  bool Ending() const;

  // No job waits, runs, or has a report still to run.
  bool Idle() const { return pending_ == 0; }

 private:
  using Job = std::function<std::function<void()>()>;
  struct Shared;
  void Enqueue(Job job);

  std::shared_ptr<Shared> shared_;
  std::thread thread_;
  int pending_ = 0;  // UI thread only
};

}  // namespace qm
