#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "util/delay.h"
#include "util/event_loop.h"
#include "util/memory_ports.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(Delay, NothingHappensForZeroOrLess) {
  EventLoop loop;
  bool ran = false;
  loop.Post([&] { ran = true; });
  DelayWithEvents(loop, 0);
  DelayWithEvents(loop, -5);
  EXPECT_FALSE(ran);
}

TEST(Delay, RunsEventsThroughoutAndLastsAtLeastTheTime) {
  EventLoop loop;
  int ticks = 0;
  Timer* timer = loop.NewTimer([&] { ++ticks; });
  timer->SetInterval(10);
  bool posted = false;
  std::thread poster([&] {
    std::this_thread::sleep_for(30ms);
    loop.Post([&] { posted = true; });
  });
  const auto start = Clock::now();
  DelayWithEvents(loop, 150);
  EXPECT_GE(Clock::now() - start, 150ms);
  poster.join();
  EXPECT_TRUE(posted);
  EXPECT_GE(ticks, 5);
  // A handler that delays in turn runs inside the outer delay.
  int inner = 0;
  loop.Post([&] {
    DelayWithEvents(loop, 20);
    ++inner;
  });
  DelayWithEvents(loop, 60);
  EXPECT_EQ(inner, 1);
  timer->SetInterval(0);
}

TEST(Delay, OffTheUiThreadItSleepsAndLeavesTheEventsAlone) {
  EventLoop loop;
  bool ran = false;
  loop.Post([&] { ran = true; });
  const auto took = std::async(std::launch::async, [&loop] {
                      const auto start = Clock::now();
                      DelayWithEvents(loop, 40);
                      return Clock::now() - start;
                    }).get();
  EXPECT_GE(took, 40ms);
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace qm
