// The automatic pass: a pass over 20000 rows of which none is due (target at
// most 5 ms) and over 100000 (target at most 10 ms), and a pass over 1000 due orders against the sandbox with 20 ms
// added to every answer: each order costs one request (the buyers' ratings
// were looked at once, right before the pass), so its wall time is set
// against 1000 single round trips (target at most 1.05 times), and the longest the event loop went
// without running its events meanwhile (target at most 50 ms).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "platform/transport.h"
#include "rating/post_rating.h"
#include "rating/schedule.h"
#include "settings/app_session.h"
#include "stall_probe.h"
#include "support/rating_world.h"

namespace {

using Clock = std::chrono::steady_clock;

void BM_PassNoneDue(benchmark::State& state) {
  qm::test::RatingWorld world;
  qm::OrderRows& unrated = world.Unrated();
  world.Session().ratingHours = 24.0f;
  const int rows = static_cast<int>(state.range(0));
  std::vector<qm::Order> orders;
  for (int i = 0; i < rows; ++i)
    orders.push_back({std::to_string(4000000000000000 + i), "买家" + std::to_string(i),
                      qm::test::PlatformTimeAgo(world.Clock(), static_cast<std::int64_t>(i % 330) * 3600 + 1800)});
  unrated.Fill(std::move(orders));
  world.Pass();  // the first pass writes every "到期"
  for (auto _ : state) world.Pass();
  if (unrated.RowCount() != rows) state.SkipWithError("a row was rated");
}
BENCHMARK(BM_PassNoneDue)->Arg(20000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_PassThousandDue(benchmark::State& state) {
  qm::test::Sandbox::Options options;
  options.latencyMs = 20;
  for (auto _ : state) {
    qm::test::RatingWorld world(options);
    if (!world.Market().Ok()) {
      state.SkipWithError("the sandbox did not start");
      return;
    }
    // One round trip: the same form for an order the platform does not know.
    const std::string url = world.Session().endpoints.apitools + qm::kRatingPath;
    std::vector<double> trips;
    for (int i = 0; i < 30; ++i) {
      const auto body = qm::BuildRatingForm(world.Session().AppKey, world.Session().AppSecret, "1", "good",
                                            "seller", world.Session().autoContent, world.Session().SessionKey);
      const auto t0 = Clock::now();
      qm::web_request(qm::WebRequest::Post(url, body));
      trips.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
    }
    std::sort(trips.begin(), trips.end());
    const double trip = trips[trips.size() / 2];

    std::vector<std::pair<int, std::string>> trades;
    for (int i = 0; i < 1000; ++i) trades.push_back({337 + i % 20, "买家" + std::to_string(i)});
    const auto tids = world.AddTrades(trades);
    for (std::size_t i = 0; i < tids.size(); ++i) world.AddUnratedRow(tids[i], trades[i].second, trades[i].first);

    // The pass posts right after a complete look at the buyers' ratings: the refresh's.
    world.Refresh();
    const qm::bench::Stall stall = qm::bench::MeasureStall(world, [&] { world.Pass(); });
    const double wall = stall.wallSeconds, longest = stall.longestSeconds;

    state.SetIterationTime(wall);
    state.counters["rated"] = static_cast<double>(1000 - world.Unrated().RowCount());
    state.counters["round_trip_ms"] = trip * 1000;
    // One round trip a post: the buyers were asked once, by the look before the pass.
    state.counters["ratio_to_1000_trips"] = wall / (1000 * trip);
    state.counters["longest_stall_ms"] = longest * 1000;
  }
}
BENCHMARK(BM_PassThousandDue)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
