#include "util/event_loop.h"

namespace qm {

class EventLoop::LoopTimer : public Timer {
 public:
  LoopTimer(EventLoop& loop, std::function<void()> onTick) : loop_(loop), onTick_(std::move(onTick)) {}

  void SetInterval(int milliseconds) override {
    std::lock_guard<std::mutex> lock(loop_.mutex_);
    interval_ = milliseconds > 0 ? milliseconds : 0;
    if (interval_ > 0) due_ = Clock::now() + std::chrono::milliseconds(interval_);
    loop_.wake_.notify_all();
  }
  int Interval() const override {
    std::lock_guard<std::mutex> lock(loop_.mutex_);
    return interval_;
  }

  // Called with the loop's mutex held.
  bool DueAt(Clock::time_point now) const { return interval_ > 0 && due_ <= now; }
  Clock::time_point Due() const { return interval_ > 0 ? due_ : Clock::time_point::max(); }
  void Rearm(Clock::time_point now) { due_ = now + std::chrono::milliseconds(interval_); }
  const std::function<void()>& OnTick() const { return onTick_; }

 private:
  EventLoop& loop_;
  std::function<void()> onTick_;
  int interval_ = 0;
  Clock::time_point due_{};
};

EventLoop::EventLoop() : owner_(std::this_thread::get_id()) {}

EventLoop::~EventLoop() = default;

bool EventLoop::OnOwnerThread() const { return std::this_thread::get_id() == owner_; }

void EventLoop::Post(std::function<void()> fn) {
  if (!fn) return;
  std::lock_guard<std::mutex> lock(mutex_);
  posted_.push_back(std::move(fn));
  wake_.notify_all();
}

Timer* EventLoop::NewTimer(std::function<void()> onTick) {
  std::lock_guard<std::mutex> lock(mutex_);
  timers_.push_back(std::make_unique<LoopTimer>(*this, std::move(onTick)));
  return timers_.back().get();
}

EventLoop::Clock::time_point EventLoop::NextDue() const {
  auto next = Clock::time_point::max();
  for (const auto& t : timers_) next = std::min(next, t->Due());
  return next;
}

bool EventLoop::RunReady() {
  // Work posted before this call runs now; work it posts waits for the next
  // round, so a handler that keeps posting cannot starve the caller.
  std::deque<std::function<void()>> batch;
  std::vector<std::function<void()>> ticks;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    batch.swap(posted_);
    auto now = Clock::now();
    for (auto& t : timers_) {
      if (t->DueAt(now)) {
        t->Rearm(now);
        if (t->OnTick()) ticks.push_back(t->OnTick());
      }
    }
  }
  for (auto& fn : batch) fn();
  for (auto& fn : ticks) fn();
  return !batch.empty() || !ticks.empty();
}

void EventLoop::RunPending() {
  if (!OnOwnerThread()) return;
  RunReady();
}

bool EventLoop::WaitAndRun(std::chrono::milliseconds limit) {
  if (!OnOwnerThread()) {
    std::this_thread::sleep_for(limit);
    return false;
  }
  auto deadline = Clock::now() + limit;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (!posted_.empty() || quit_) break;
      auto now = Clock::now();
      auto due = NextDue();
      if (due <= now) break;
      if (now >= deadline) return false;
      wake_.wait_until(lock, std::min(deadline, due));
    }
  }
  return RunReady() || QuitRequested();
}

int EventLoop::Run() {
  while (!QuitRequested()) WaitAndRun(std::chrono::milliseconds(1000));
  std::lock_guard<std::mutex> lock(mutex_);
  return quitCode_;
}

void EventLoop::Quit(int code) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!quit_) quitCode_ = code;
  quit_ = true;
  wake_.notify_all();
}

void EventLoop::ClearQuit() {
  std::lock_guard<std::mutex> lock(mutex_);
  quit_ = false;
  quitCode_ = 0;
}

bool EventLoop::QuitRequested() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return quit_;
}

}  // namespace qm
