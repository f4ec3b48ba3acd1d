#include "util/locks.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace qm {
namespace {

// A recursive lock that knows its owner, so that a Leave from a thread that
// does not hold it can be ignored (std::recursive_mutex would be undefined).
class RecursiveLock {
 public:
  void Enter() {
    const auto me = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(mutex_);
    if (depth_ > 0 && owner_ == me) {
      ++depth_;
      return;
    }
    free_.wait(lock, [&] { return depth_ == 0; });
    owner_ = me;
    depth_ = 1;
  }

  bool TryEnter() {
    const auto me = std::this_thread::get_id();
    std::lock_guard<std::mutex> lock(mutex_);
    if (depth_ > 0 && owner_ != me) return false;
    owner_ = me;
    ++depth_;
    return true;
  }

  void Leave() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (depth_ == 0 || owner_ != std::this_thread::get_id()) return;
    if (--depth_ == 0) {
      owner_ = std::thread::id();
      free_.notify_one();
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable free_;
  std::thread::id owner_;
  int depth_ = 0;
};

// The process-wide list of locks; a lock lives for the rest of the process.
class LockRegistry {
 public:
  std::uint32_t Add() {
    auto lock = std::make_shared<RecursiveLock>();
    std::lock_guard<std::mutex> guard(mutex_);
    std::uint32_t handle;
    do {
      handle = next_++;
    } while (handle == 0 || locks_.count(handle) != 0);
    locks_.emplace(handle, std::move(lock));
    return handle;
  }

  std::shared_ptr<RecursiveLock> Find(std::uint32_t handle) {
    if (handle == 0) return nullptr;
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = locks_.find(handle);
    return it == locks_.end() ? nullptr : it->second;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<std::uint32_t, std::shared_ptr<RecursiveLock>> locks_;
  std::uint32_t next_ = 0x1000;
};

// Process-wide, as the handles it gives out: a handle may be passed to any
// thread, as the original's critical sections were.
LockRegistry& Locks() {
  static LockRegistry* registry = new LockRegistry;  // used by threads that outlive static destruction
  return *registry;
}

}  // namespace

std::uint32_t CreateLock() { return Locks().Add(); }

void EnterLock(std::uint32_t lock) {
  if (auto l = Locks().Find(lock)) l->Enter();
}

void LeaveLock(std::uint32_t lock) {
  if (auto l = Locks().Find(lock)) l->Leave();
}

bool TryEnterLock(std::uint32_t lock) {
  auto l = Locks().Find(lock);
  return l && l->TryEnter();
}

}  // namespace qm
