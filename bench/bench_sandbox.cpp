// The sandbox marketplace at scale: 100000 trades in memory, one page of 100
// trades per request (server time from the X-Sandbox-Handler-Us header and
// the round trip over a kept-alive loopback connection), and many
// connections at once.
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "support/sandbox_calls.h"
#include "support/sandbox_process.h"

namespace {

using qm::test::Sandbox;

constexpr int kTrades = 100000;

Sandbox& Market() {
  static std::unique_ptr<Sandbox> sandbox = [] {
    Sandbox::Options options;
    options.seed = 42;
    options.trades = kTrades;
    options.extraArgs = {"--threads", "256"};
    return std::make_unique<Sandbox>(options);
  }();
  return *sandbox;
}

std::string PageTarget(const Sandbox& sandbox, const char* rateStatus, int page) {
  return "/router/rest?" + qm::test::SignedQuery(sandbox, "taobao.trades.sold.get",
                                                 {{"fields", "tid,buyer_nick,end_time"},
                                                  {"page_no", std::to_string(page)},
                                                  {"page_size", "100"},
                                                  {"rate_status", rateStatus},
                                                  {"status", "TRADE_FINISHED"},
                                                  {"use_has_next", "true"}});
}

// One page of 100 trades; page 1 and a page deep in the list (every earlier
// match is walked past).
void BM_TradePage(benchmark::State& state) {
  Sandbox& sandbox = Market();
  if (!sandbox.Ok()) return state.SkipWithError("the sandbox did not start");
  const int page = static_cast<int>(state.range(0));
  const std::string target = PageTarget(sandbox, "RATE_UNSELLER", page);
  httplib::Client client("127.0.0.1", sandbox.Port());
  client.set_keep_alive(true);
  client.set_tcp_nodelay(true);
  double serverUs = 0, maxServerUs = 0;
  std::size_t bytes = 0;
  for (auto _ : state) {
    auto res = client.Get(target.c_str());
    if (!res || res->status != 200 || res->body.find("<trade>") == std::string::npos)
      return state.SkipWithError("no page of trades");
    const double us = std::atof(res->get_header_value("X-Sandbox-Handler-Us").c_str());
    serverUs += us;
    maxServerUs = std::max(maxServerUs, us);
    bytes += res->body.size();
  }
  state.counters["server_us"] = benchmark::Counter(serverUs / static_cast<double>(state.iterations()));
  state.counters["server_us_max"] = maxServerUs;
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_TradePage)->Arg(1)->Arg(400)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The buyer-rated list, fetched to its end the way the client does.
void BM_WholeBuyerRatedList(benchmark::State& state) {
  Sandbox& sandbox = Market();
  if (!sandbox.Ok()) return state.SkipWithError("the sandbox did not start");
  httplib::Client client("127.0.0.1", sandbox.Port());
  client.set_keep_alive(true);
  client.set_tcp_nodelay(true);
  int pages = 0;
  for (auto _ : state) {
    pages = 0;
    for (int page = 1;; ++page) {
      auto res = client.Get(PageTarget(sandbox, "RATE_BUYER_UNSELLER", page).c_str());
      if (!res || res->status != 200) return state.SkipWithError("a page failed");
      ++pages;
      if (qm::test::FirstValue(res->body, "<has_next>") != "true") break;
    }
  }
  state.counters["pages"] = pages;
}
BENCHMARK(BM_WholeBuyerRatedList)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Many clients at once, each on its own connection, each fetching pages.
void BM_ManyConnections(benchmark::State& state) {
  Sandbox& sandbox = Market();
  if (!sandbox.Ok()) return state.SkipWithError("the sandbox did not start");
  const int connections = static_cast<int>(state.range(0));
  constexpr int kRequestsEach = 10;
  std::atomic<int> failures{0};
  for (auto _ : state) {
    std::vector<std::thread> clients;
    clients.reserve(static_cast<std::size_t>(connections));
    for (int c = 0; c < connections; ++c) {
      clients.emplace_back([&, c] {
        httplib::Client client("127.0.0.1", sandbox.Port());
        client.set_keep_alive(true);
        client.set_tcp_nodelay(true);
        client.set_read_timeout(30, 0);
        for (int i = 0; i < kRequestsEach; ++i) {
          auto res = client.Get(PageTarget(sandbox, "RATE_UNBUYER", 1 + (c + i) % 50).c_str());
          if (!res || res->status != 200) ++failures;
        }
      });
    }
    for (auto& t : clients) t.join();
  }
  state.counters["failures"] = failures.load();
  state.counters["requests_per_s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * connections * kRequestsEach, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ManyConnections)->Arg(1)->Arg(10)->Arg(50)->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
