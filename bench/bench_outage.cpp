// The longest stall of the UI thread's event loop while the platform cannot
// be reached, over one refresh and one pass of a run with due orders: once
// with nothing listening on the platform's port (connections refused), once
// with a platform that holds every reply past the request time-out. A 1 ms
// timer ticks throughout; the longest gap between its ticks is the stall.
// Target: 50 ms.
#include <algorithm>
#include <cstdio>
#include <string>

#include "rating/seller_run.h"
#include "settings/app_session.h"
#include "stall_probe.h"
#include "support/rating_world.h"

namespace {

double Measure(qm::test::RatingWorld& world, const char* what) {
  const qm::bench::Stall stall = qm::bench::MeasureStall(world, [&] {
    world.Refresh();
    world.Pass();
  });
  const double wall = stall.wallSeconds, longest = stall.longestSeconds;
  std::printf("%-58s refresh + pass %6.1f s, longest stall %6.1f ms (target 50 ms) %s\n", what, wall,
              longest * 1000, longest <= 0.050 ? "ok" : "OVER");
  return longest;
}

}  // namespace

int main() {
  double worst = 0;
  {
    qm::test::RatingWorld world;
    for (int i = 0; i < 3; ++i) {
      const std::string tid = world.AddTrade(340 + i, "买家" + std::to_string(i));
      world.AddUnratedRow(tid, "买家" + std::to_string(i), 340 + i);
    }
    // Nothing listens there: every connection is refused.
    world.Session().endpoints = qm::Endpoints::AtBase("http://127.0.0.1:9");
    world.Restart();
    worst = std::max(worst, Measure(world, "platform unreachable (connections refused):"));
  }
  {
    qm::test::RatingWorld world;
    for (int i = 0; i < 3; ++i) {
      const std::string tid = world.AddTrade(340 + i, "买家" + std::to_string(i));
      world.AddUnratedRow(tid, "买家" + std::to_string(i), 340 + i);
    }
    // Every reply held past the 10-second request limit.
    world.Faults(R"({"path":"*","latency_ms":11000})");
    worst = std::max(worst, Measure(world, "every reply past the time-out:"));
  }
  return worst <= 0.050 ? 0 : 1;
}
