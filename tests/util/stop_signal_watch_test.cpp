#include <signal.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "util/stop.h"
#include "util/stop_signal_watch.h"

namespace qm {
namespace {

using namespace std::chrono_literals;

#ifndef _WIN32
TEST(StopSignalWatch, ASignalStopsAndIsHandedOnByNameWhileTheWatchLives) {
  ClearStopRequest();
  std::promise<std::string> heard;
  auto name = heard.get_future();
  auto watch = std::make_unique<StopSignalWatch>([&heard](const char* signal) {
    EXPECT_TRUE(StopRequested());  // the stop comes first
    heard.set_value(signal);
  });
  ASSERT_EQ(kill(getpid(), SIGTERM), 0);
  ASSERT_EQ(name.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(name.get(), "SIGTERM");
  ClearStopRequest();

  // The watch ends without a signal to wake it; one that comes after stays
  // pending and stops nothing.
  const auto ending = std::chrono::steady_clock::now();
  watch.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - ending, 1s);
  ASSERT_EQ(kill(getpid(), SIGINT), 0);
  EXPECT_STREQ(WaitForStopSignal(2s), "SIGINT");
  EXPECT_FALSE(StopRequested());
  EXPECT_EQ(WaitForStopSignal(20ms), nullptr);
}
#endif

}  // namespace
}  // namespace qm
