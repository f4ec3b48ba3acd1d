#include "util/locks.h"

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace qm {
namespace {

// Runs `fn` on another thread and gives its result.
template <class Fn>
auto OnOtherThread(Fn fn) {
  return std::async(std::launch::async, fn).get();
}

TEST(Locks, KeepOtherThreadsOutOfTheSection) {
  const std::uint32_t lock = CreateLock();
  ASSERT_NE(lock, 0u);
  long counter = 0;  // deliberately not atomic
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        EnterLock(lock);
        counter = counter + 1;
        LeaveLock(lock);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 80000);
}

TEST(Locks, TheOwnerMayEnterAgainAndMustLeaveAsOften) {
  const std::uint32_t lock = CreateLock();
  EnterLock(lock);
  EnterLock(lock);
  EXPECT_FALSE(OnOtherThread([&] { return TryEnterLock(lock); }));
  LeaveLock(lock);
  EXPECT_FALSE(OnOtherThread([&] { return TryEnterLock(lock); }));
  LeaveLock(lock);
  EXPECT_TRUE(OnOtherThread([&] {
    const bool entered = TryEnterLock(lock);
    if (entered) LeaveLock(lock);
    return entered;
  }));
}

TEST(Locks, UnknownHandlesAreIgnored) {
  // None of these may block or crash.
  EnterLock(0);
  LeaveLock(0);
  EnterLock(0xDEADBEEFu);
  LeaveLock(0xDEADBEEFu);
  EXPECT_FALSE(TryEnterLock(0));
  EXPECT_FALSE(TryEnterLock(0xDEADBEEFu));
  const std::uint32_t lock = CreateLock();
  EnterLock(lock + 100000);  // near a real handle, but not one
  EXPECT_TRUE(OnOtherThread([&] {
    const bool entered = TryEnterLock(lock);
    if (entered) LeaveLock(lock);
    return entered;
  }));
}

TEST(Locks, ALeaveByAThreadThatDoesNotHoldTheLockIsIgnored) {
  const std::uint32_t lock = CreateLock();
  LeaveLock(lock);  // not held at all
  EnterLock(lock);
  OnOtherThread([&] {
    LeaveLock(lock);
    return 0;
  });
  EXPECT_FALSE(OnOtherThread([&] { return TryEnterLock(lock); }));
  LeaveLock(lock);
}

TEST(Locks, GuardHoldsForItsScope) {
  const std::uint32_t lock = CreateLock();
  {
    LockGuard guard(lock);
    EXPECT_FALSE(OnOtherThread([&] { return TryEnterLock(lock); }));
  }
  EXPECT_TRUE(TryEnterLock(lock));
  LeaveLock(lock);
}

}  // namespace
}  // namespace qm
