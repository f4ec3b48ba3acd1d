#pragma once
// Process-wide locks. A lock is a 32-bit handle of a recursive lock (the same
// thread may enter it again; it must leave as often). Handles that were never
// made by CreateLock are ignored.
#include <cstdint>

namespace qm {

// A new lock; it lives for the rest of the process. Never 0.
std::uint32_t CreateLock();
// Blocks until the calling thread holds the lock. Unknown handles are ignored.
void EnterLock(std::uint32_t lock);
// Leaves the lock once. Unknown handles and a lock the calling thread does not
// hold are ignored.
void LeaveLock(std::uint32_t lock);
// Enters the lock when no other thread holds it; true when entered.
bool TryEnterLock(std::uint32_t lock);

// Holds a lock for a scope.
class LockGuard {
 public:
  explicit LockGuard(std::uint32_t lock) : lock_(lock) { EnterLock(lock_); }
  ~LockGuard() { LeaveLock(lock_); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  std::uint32_t lock_;
};

}  // namespace qm
