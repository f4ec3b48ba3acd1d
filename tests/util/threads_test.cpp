#include "util/threads.h"

#include <atomic>
#include <chrono>
#include <future>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "util/event_loop.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Holds a thread procedure until released.
class Gate {
 public:
  void Open() { promise_.set_value(); }
  void Pass() const { future_.wait(); }

 private:
  std::promise<void> promise_;
  std::shared_future<void> future_ = promise_.get_future().share();
};

// Installs an EventLoop of the calling thread as the program's pump.
class ThreadWaitOnUi : public ::testing::Test {
 protected:
  void SetUp() override { SetEventPump(&loop); }
  void TearDown() override { SetEventPump(nullptr); }
  EventLoop loop;
};

TEST(Threads, StartWithoutKeepingRunsAndLeavesNoHandle) {
  ThreadUtil util;
  std::promise<std::uint32_t> seen;
  std::uint32_t handle = 1234;
  ASSERT_TRUE(util.Start([&](std::uint32_t p) { seen.set_value(p); return 0u; }, 77, &handle, false));
  EXPECT_EQ(handle, 0u);
  EXPECT_EQ(seen.get_future().get(), 77u);

  std::promise<void> ran;
  ASSERT_TRUE(StartThread([&](std::uint32_t) { ran.set_value(); return 0u; }));
  EXPECT_EQ(ran.get_future().wait_for(5s), std::future_status::ready);
}

TEST(Threads, StateAndExitCodeFollowTheThreadUntilClosed) {
  ThreadUtil util;
  Gate gate;
  std::uint32_t handle = 0;
  ASSERT_TRUE(StartThread([&](std::uint32_t p) { gate.Pass(); return p * 2; }, 21, &handle));
  ASSERT_NE(handle, 0u);
  EXPECT_EQ(util.State(handle), kThreadRunning);
  EXPECT_EQ(util.ExitCode(handle), kStillActive);
  gate.Open();
  ASSERT_TRUE(util.WaitFor(handle, 5000));
  EXPECT_EQ(util.State(handle), kThreadEnded);
  EXPECT_EQ(util.ExitCode(handle), 42u);
  EXPECT_TRUE(util.Close(handle));
  EXPECT_EQ(util.State(handle), kThreadInvalid);
  EXPECT_EQ(util.ExitCode(handle), 0u);
  EXPECT_FALSE(util.Close(handle));
  EXPECT_FALSE(util.WaitFor(handle, 10));
}

TEST(Threads, AProcedureThatReturnsTheStillActiveValueStillEnds) {
  ThreadUtil util;
  std::uint32_t handle = 0;
  ASSERT_TRUE(StartThread([](std::uint32_t) { return kStillActive; }, 0, &handle));
  ASSERT_TRUE(util.WaitFor(handle, 5000));
  EXPECT_EQ(util.State(handle), kThreadEnded);
  util.Close(handle);
}

TEST(Threads, AThrowingProcedureEndsWithTheFailureCode) {
  ThreadUtil util;
  std::uint32_t handle = 0;
  ASSERT_TRUE(StartThread([](std::uint32_t) -> std::uint32_t { throw std::runtime_error("x"); }, 0, &handle));
  ASSERT_TRUE(util.WaitFor(handle, 5000));
  EXPECT_EQ(util.ExitCode(handle), kThreadFailedExitCode);
  util.Close(handle);
}

TEST(Threads, InvalidHandlesAndEmptyProceduresGiveFailure) {
  ThreadUtil util;
  std::uint32_t handle = 99;
  EXPECT_FALSE(StartThread(ThreadProc(), 0, &handle));
  EXPECT_EQ(handle, 0u);
  EXPECT_EQ(util.State(0), kThreadInvalid);
  EXPECT_EQ(util.State(0xFFFFFFF0u), kThreadInvalid);
  EXPECT_FALSE(util.Close(0));
  EXPECT_FALSE(util.WaitFor(0xFFFFFFF0u, 10));
}

TEST(Threads, SuspendResumeAndTerminateAreRefused) {
  ThreadUtil util;
  Gate gate;
  std::uint32_t handle = 0;
  ASSERT_TRUE(StartThread([&](std::uint32_t) { gate.Pass(); return 5u; }, 0, &handle));
  EXPECT_FALSE(util.Suspend(handle));
  EXPECT_FALSE(util.Resume(handle));
  EXPECT_FALSE(util.Terminate(handle));
  EXPECT_EQ(util.State(handle), kThreadRunning);  // untouched
  gate.Open();
  EXPECT_TRUE(util.WaitFor(handle, 5000));
  EXPECT_EQ(util.ExitCode(handle), 5u);
  util.Close(handle);
}

TEST(Threads, CurrentThreadIdIsStablePerThreadAndDistinct) {
  const std::uint32_t mine = ThreadUtil::CurrentThreadId();
  EXPECT_NE(mine, 0u);
  EXPECT_EQ(ThreadUtil::CurrentThreadId(), mine);
  std::vector<std::uint32_t> ids(4);
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) threads.emplace_back([&ids, i] { ids[i] = ThreadUtil::CurrentThreadId(); });
  for (auto& t : threads) t.join();
  std::set<std::uint32_t> unique(ids.begin(), ids.end());
  unique.insert(mine);
  EXPECT_EQ(unique.size(), 5u);
}

TEST(Threads, WaitWithoutAPumpBlocksUpToTheLimit) {
  ThreadUtil util;
  Gate gate;
  std::uint32_t handle = 0;
  ASSERT_TRUE(StartThread([&](std::uint32_t) { gate.Pass(); return 0u; }, 0, &handle));
  const auto start = Clock::now();
  EXPECT_FALSE(util.WaitFor(handle, 60));
  EXPECT_GE(Clock::now() - start, 60ms);
  gate.Open();
  EXPECT_TRUE(util.WaitFor(handle, -1));  // no limit
  util.Close(handle);
}

TEST_F(ThreadWaitOnUi, WaitReturnsWhenTheThreadEndsWhileEventsKeepArriving) {
  ThreadUtil util;
  int ticks = 0;
  Timer* timer = loop.NewTimer([&] { ++ticks; });
  timer->SetInterval(10);
  std::uint32_t handle = 0;
  // The thread outlives many limits, but the events restart the limit each time.
  ASSERT_TRUE(StartThread([](std::uint32_t) { std::this_thread::sleep_for(300ms); return 3u; }, 0, &handle));
  EXPECT_TRUE(util.WaitFor(handle, 50));
  EXPECT_EQ(util.State(handle), kThreadEnded);
  EXPECT_GE(ticks, 10);  // the timer ran inside the wait
  timer->SetInterval(0);
  util.Close(handle);
}

TEST_F(ThreadWaitOnUi, WaitStopsAtItsLimitWhenNoEventArrives) {
  ThreadUtil util;
  Gate gate;
  std::uint32_t handle = 0;
  ASSERT_TRUE(StartThread([&](std::uint32_t) { gate.Pass(); return 0u; }, 0, &handle));
  const auto start = Clock::now();
  EXPECT_FALSE(util.WaitFor(handle, 80));
  EXPECT_GE(Clock::now() - start, 80ms);
  EXPECT_EQ(loop.PumpCount(), 0);
  EXPECT_EQ(util.State(handle), kThreadRunning);
  gate.Open();
  EXPECT_TRUE(util.WaitFor(handle, 5000));
  util.Close(handle);
}

TEST_F(ThreadWaitOnUi, WaitWakesAtTheThreadsEndRatherThanAtTheLimit) {
  ThreadUtil util;
  std::uint32_t handle = 0;
  ASSERT_TRUE(StartThread([](std::uint32_t) { std::this_thread::sleep_for(30ms); return 0u; }, 0, &handle));
  const auto start = Clock::now();
  EXPECT_TRUE(util.WaitFor(handle, 20000));
  EXPECT_LT(Clock::now() - start, 10s);
  util.Close(handle);
}

TEST_F(ThreadWaitOnUi, WorkPostedFromTheThreadRunsInsideTheWait) {
  ThreadUtil util;
  std::atomic<bool> ranOnUi{false};
  const std::uint32_t ui = ThreadUtil::CurrentThreadId();
  std::uint32_t handle = 0;
  ASSERT_TRUE(StartThread(
      [&](std::uint32_t) {
        PostToUi([&] { ranOnUi = ThreadUtil::CurrentThreadId() == ui; });
        std::this_thread::sleep_for(20ms);
        return 0u;
      },
      0, &handle));
  EXPECT_TRUE(util.WaitFor(handle, 5000));
  loop.RunPending();
  EXPECT_TRUE(ranOnUi);
  util.Close(handle);
}

}  // namespace
}  // namespace qm
