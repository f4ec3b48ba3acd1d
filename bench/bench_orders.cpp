// Timing of the first load and the buyer-rated refresh against the sandbox
// marketplace, with the in-memory loop and lists as the window.
//
//  1. 10000 trades unrated on both sides (100 pages per rate status) with 20 ms
//     added to every gateway request: wall time against the network floor
//     (requests x latency), target at most 1.05.
//  2. The local work of that load per trade: building and signing requests,
//     decoding and reading replies, the fifteen-day check, the inserts, the
//     join and filling the list; target at most 2 us.
//  3. RefreshBuyerRatedList with 10000 buyer-rated orders against a left list
//     of 20000 rows; target at most 20 ms of local work.
//
// Arguments are ignored (the bench runner passes Google Benchmark flags).
#include <chrono>
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "orders/sync.h"
#include "settings/app_session.h"
#include "support/sandbox_process.h"
#include "support/temp_dir.h"
#include "util/event_loop.h"
#include "util/memory_ports.h"
#include "util/ports.h"

namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;
constexpr int kTrades = 10000;
constexpr int kLatencyMs = 20;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

bool AddTrades(qm::test::Sandbox& sb, int n, const std::string& prefix, const std::string& buyerRate) {
  json trades = json::array();
  for (int i = 0; i < n; ++i)
    trades.push_back({{"tid", prefix + std::to_string(1000000 + i)},
                      {"buyer_nick", "买家" + std::to_string(i)},
                      {"status", "TRADE_FINISHED"},
                      {"ended_hours_ago", 1 + (i * 7) % 340},
                      {"buyer_rate", buyerRate},
                      {"seller_rate", "none"}});
  return !sb.AdminPost("trades", json{{"trades", trades}}.dump()).empty();
}

void Verdict(const char* what, double value, double target, const char* unit) {
  std::printf("  %-44s %10.3f %s (target <= %g) %s\n", what, value, unit, target,
              value <= target ? "ok" : "OVER");
}

int RunFirstLoadBench(qm::test::Sandbox& sb, qm::EventLoop& loop, qm::MemoryOrderList& unrated, int latencyMs) {
  sb.AdminPost("faults", json{{"path", "/router/rest"}, {"latency_ms", latencyMs}}.dump());
  unrated.DeleteAllRows();
  Clock::time_point finished{};
  qm::SetFirstLoadDoneHandler([&] { finished = Clock::now(); });
  const auto start = Clock::now();
  if (!qm::StartFirstLoad()) return 1;
  while (qm::FirstLoadRunning()) loop.WaitAndRun(std::chrono::milliseconds(5));
  loop.RunPending();
  sb.AdminPost("faults", "{}");
  qm::SetFirstLoadDoneHandler(nullptr);

  const qm::SyncResult r = qm::LastSyncResult();
  if (!r.databaseOk || unrated.RowCount() != kTrades) {
    std::printf("  first load failed: %s, %d rows\n", r.error.c_str(), unrated.RowCount());
    return 1;
  }
  const int requests = r.buyerSide.pages + r.sellerSide.pages;
  const double wall = Seconds(start, finished);
  const double floor = requests * latencyMs / 1000.0;
  const double local = r.buyerSide.localSeconds + r.sellerSide.localSeconds + r.joinSeconds + r.fillSeconds;
  const int read = r.buyerSide.tradesRead + r.sellerSide.tradesRead;
  std::printf("first load, %d trades, %d ms latency: %d requests, wall %.3f s, in requests %.3f s\n", kTrades,
              latencyMs, requests, wall, r.buyerSide.networkSeconds + r.sellerSide.networkSeconds);
  std::printf("  local: pages %.1f ms, join %.1f ms, list fill %.1f ms\n",
              (r.buyerSide.localSeconds + r.sellerSide.localSeconds) * 1e3, r.joinSeconds * 1e3,
              r.fillSeconds * 1e3);
  if (latencyMs > 0) Verdict("wall / network floor", wall / floor, 1.05, "x");
  Verdict("local work per listed order", local / kTrades * 1e6, 2.0, "us");
  std::printf("  %-44s %10.3f us (each of the %d trades read)\n", "local work per trade read",
              local / read * 1e6, read);
  return 0;
}

int RunRefreshBench(qm::test::Sandbox& sb, qm::MemoryOrderList& unrated, qm::MemoryOrderList& buyerRated,
                    int latencyMs) {
  // 20000 rows: the 10000 buyer-rated orders interleaved with 10000 others.
  unrated.DeleteAllRows();
  buyerRated.DeleteAllRows();
  std::vector<std::vector<std::string>> rows;
  for (int i = 0; i < kTrades; ++i) {
    rows.push_back({"7" + std::to_string(1000000 + i), "x", "2026-01-01 00:00:00", ""});
    rows.push_back({"3" + std::to_string(1000000 + i), "y", "2026-01-01 00:00:00", ""});
  }
  unrated.AppendRows(rows);
  sb.AdminPost("faults", json{{"path", "/router/rest"}, {"latency_ms", latencyMs}}.dump());
  const auto start = Clock::now();
  qm::RefreshBuyerRatedList();
  const double wall = Seconds(start, Clock::now());
  sb.AdminPost("faults", "{}");
  const qm::FetchStats s = qm::LastRefreshStats();
  if (buyerRated.RowCount() != kTrades || unrated.RowCount() != kTrades) {
    std::printf("  refresh failed: %d right, %d left\n", buyerRated.RowCount(), unrated.RowCount());
    return 1;
  }
  std::printf("refresh, %d buyer-rated against %d rows, %d ms latency: %d requests, wall %.3f s\n", kTrades,
              2 * kTrades, latencyMs, s.pages, wall);
  Verdict("refresh local work", s.localSeconds * 1e3, 20.0, "ms");
  return 0;
}

}  // namespace

int main() {
  qm::test::Sandbox sb;
  if (!sb.Ok()) {
    std::puts("the sandbox marketplace did not start");
    return 1;
  }
  qm::test::TempDir dir;
  sb.AdminPost("reset", json{{"seed", 1}, {"trades", 0}}.dump());
  sb.UseInSession();
  qm::Session().programDir = dir.str();
  qm::Session().sellerNick = sb.Seller().nick;

  qm::EventLoop loop;
  qm::SetEventPump(&loop);
  qm::MemoryOrderList unrated(4), buyerRated(2);
  qm::MainView view;
  view.unrated = &unrated;
  view.buyerRated = &buyerRated;
  qm::SetMainView(&view);

  int failures = 0;
  if (!AddTrades(sb, kTrades, "7", "none")) {
    std::puts("could not add the trades");
    return 1;
  }
  failures += RunFirstLoadBench(sb, loop, unrated, 0);
  failures += RunFirstLoadBench(sb, loop, unrated, kLatencyMs);

  sb.AdminPost("reset", json{{"seed", 1}, {"trades", 0}}.dump());
  if (!AddTrades(sb, kTrades, "7", "good")) {
    std::puts("could not add the buyer-rated trades");
    return 1;
  }
  failures += RunRefreshBench(sb, unrated, buyerRated, 0);
  failures += RunRefreshBench(sb, unrated, buyerRated, kLatencyMs);

  qm::SetMainView(nullptr);
  qm::SetEventPump(nullptr);
  return failures == 0 ? 0 : 1;
}
