#include "util/event_loop.h"

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

namespace qm {
namespace {

using namespace std::chrono_literals;

TEST(EventLoop, PostedWorkFromAnotherThreadWakesAWait) {
  EventLoop loop;
  std::atomic<bool> ran{false};
  std::thread worker([&] {
    std::this_thread::sleep_for(30ms);
    loop.Post([&] { ran = true; });
  });
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(loop.WaitAndRun(5000ms));
  EXPECT_TRUE(ran);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2000ms);
  worker.join();
}

TEST(EventLoop, IdleWaitReturnsFalseAtItsLimit) {
  EventLoop loop;
  EXPECT_FALSE(loop.WaitAndRun(20ms));
}

TEST(EventLoop, TimersTickUntilStoppedAndZeroStops) {
  EventLoop loop;
  int ticks = 0;
  Timer* timer = nullptr;
  timer = loop.NewTimer([&] {
    if (++ticks == 3) timer->SetInterval(0);
  });
  timer->SetInterval(5);
  auto until = std::chrono::steady_clock::now() + 500ms;
  while (std::chrono::steady_clock::now() < until) loop.WaitAndRun(50ms);
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(timer->Interval(), 0);
}

TEST(EventLoop, WorkPostedByAHandlerRunsInTheNextRound) {
  EventLoop loop;
  int rounds = 0;
  std::function<void()> again = [&] {
    ++rounds;
    loop.Post(again);
  };
  loop.Post(again);
  loop.RunPending();
  EXPECT_EQ(rounds, 1);
  loop.RunPending();
  EXPECT_EQ(rounds, 2);
}

TEST(EventLoop, QuitEndsRunWithItsCodeAndPostsRunOnTheOwnerThread) {
  EventLoop loop;
  std::atomic<bool> ranOffThread{false};
  std::thread worker([&] {
    loop.Post([&] { ranOffThread = !loop.OnOwnerThread(); });
    loop.Quit(7);
  });
  EXPECT_EQ(loop.Run(), 7);
  worker.join();
  EXPECT_FALSE(ranOffThread);
}

}  // namespace
}  // namespace qm
