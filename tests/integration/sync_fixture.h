#pragma once
// The first load and the buyer-rated refresh against the sandbox marketplace,
// with the in-memory event loop and lists standing in for the main window:
// the fixture shared by their tests.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "orders/order_book.h"
#include "orders/order_db.h"
#include "orders/order_loader.h"
#include "platform/platform_link.h"
#include "rating/refresh_checks.h"
#include "rating/run_texts.h"
#include "settings/app_session.h"
#include "support/sandbox_process.h"
#include "support/temp_dir.h"
#include "util/event_loop.h"
#include "util/memory_ports.h"
#include "util/ports.h"

namespace qm::test {

using nlohmann::json;
using namespace std::chrono_literals;

struct GatewayCall {
  std::map<std::string, std::string> query;  // values as sent (still percent-encoded)
  int status = 0;
};

inline std::map<std::string, std::string> SplitQuery(const std::string& query) {
  std::map<std::string, std::string> out;
  std::size_t pos = 0;
  while (pos <= query.size()) {
    std::size_t amp = query.find('&', pos);
    if (amp == std::string::npos) amp = query.size();
    const std::string pair = query.substr(pos, amp - pos);
    const std::size_t eq = pair.find('=');
    if (eq != std::string::npos) out[pair.substr(0, eq)] = pair.substr(eq + 1);
    pos = amp + 1;
  }
  return out;
}

class SyncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox_ = std::make_unique<Sandbox>();
    ASSERT_TRUE(sandbox_->Ok()) << "the sandbox marketplace did not start";
    ASSERT_FALSE(Admin("reset", json{{"seed", 1}, {"trades", 0}}).empty());
    sandbox_->UseInSession(session_);
    session_.programDir = dir_.str();

    unrated_.AttachView(&unratedView_);
    buyerRated_.AttachView(&buyerRatedView_);
    SetPageRetryPauses({20, 40, 80});
  }

  // A loader for the record's account as it is now.
  void MakeLoader() {
    // What the front ends show of each report, heard on the UI thread.
    loader_ = std::make_unique<OrderLoader>(
        book_, loop_, session_.RunAccount(), pauses_,
        [this](const LoadReport& report) {
          EXPECT_TRUE(loop_.OnOwnerThread());
          last_ = report;
          statuses_.push_back(LoadStatusText(report, session_.link->Clock().Now()));
          if (onReport_) onReport_();
        },
        [this](int read) {
          EXPECT_TRUE(loop_.OnOwnerThread());
          statuses_.push_back(LoadingText(read));
          if (onProgress_) onProgress_(read);
        });
  }

  void TearDown() override {
    loader_.reset();
  }

  void SetPageRetryPauses(std::vector<int> pauses) {
    pauses_ = std::move(pauses);
    MakeLoader();
  }
  const LoadReport& LastSyncResult() const { return last_; }
  void RefreshBuyerRatedList() { refresh_ = qm::RefreshBuyerRatedList(session_.RunAccount(), book_, pauses_); }
  const FetchStats& LastRefreshStats() const { return refresh_; }

  std::string Admin(const std::string& path, const json& body) { return sandbox_->AdminPost(path, body.dump()); }

  // Adds unrated finished trades; each entry is {"tid", ...} overrides.
  void AddTrades(json trades) {
    for (auto& t : trades) {
      if (!t.contains("status")) t["status"] = "TRADE_FINISHED";
      if (!t.contains("buyer_rate")) t["buyer_rate"] = "none";
      if (!t.contains("seller_rate")) t["seller_rate"] = "none";
    }
    ASSERT_FALSE(Admin("trades", json{{"trades", trades}}).empty());
  }
  void AddUnrated(int n, int endedHoursAgo = 24, const std::string& prefix = "9") {
    json trades = json::array();
    for (int i = 0; i < n; ++i)
      trades.push_back({{"tid", prefix + std::to_string(100000 + i)},
                        {"buyer_nick", "buyer" + std::to_string(i)},
                        {"ended_hours_ago", endedHoursAgo}});
    AddTrades(trades);
  }

  // Starts the first load and runs the loop until it has finished.
  void RunFirstLoad() {
    Admin("log/clear", json::object());
    ASSERT_TRUE(loader_->Start(LoadKind::First));
    const auto deadline = std::chrono::steady_clock::now() + 90s;
    while (loader_->Running() && std::chrono::steady_clock::now() < deadline) loop_.WaitAndRun(20ms);
    ASSERT_FALSE(loader_->Running()) << "the first load did not finish";
    loop_.RunPending();
  }

  // The trades.sold.get calls of the log for one rate status, in order.
  std::vector<GatewayCall> PageCalls(const std::string& rateStatus) {
    std::vector<GatewayCall> out;
    const json log = json::parse(sandbox_->AdminGet("log"), nullptr, false);
    if (!log.is_array()) return out;
    for (const auto& entry : log) {
      if (entry.value("api_method", "") != "taobao.trades.sold.get") continue;
      GatewayCall call{SplitQuery(entry.value("query", "")), entry.value("status", 0)};
      if (call.query["rate_status"] == rateStatus) out.push_back(call);
    }
    return out;
  }

  // The trades.sold.get calls in the order the sandbox answered them, as
  // "RATE_STATUS PAGE".
  std::vector<std::string> CallOrder() {
    std::vector<std::string> out;
    const json log = json::parse(sandbox_->AdminGet("log"), nullptr, false);
    for (const auto& entry : log) {
      if (entry.value("api_method", "") != "taobao.trades.sold.get") continue;
      auto query = SplitQuery(entry.value("query", ""));
      out.push_back(query["rate_status"] + " " + query["page_no"]);
    }
    return out;
  }

  std::vector<std::string> UnratedTids() const {
    std::vector<std::string> out;
    for (int i = 0; i < unrated_.RowCount(); ++i) out.emplace_back(unrated_.Cell(i, 0));
    return out;
  }

  TempDir dir_;
  AppSession session_;
  std::unique_ptr<Sandbox> sandbox_;
  EventLoop loop_;
  OrderBook book_;
  OrderRows& unrated_ = book_.Unrated();
  OrderRows& buyerRated_ = book_.BuyerRated();
  MemoryOrderList unratedView_;
  MemoryOrderList buyerRatedView_;
  std::unique_ptr<OrderLoader> loader_;
  std::vector<int> pauses_;
  LoadReport last_;
  FetchStats refresh_;
  std::function<void()> onReport_;
  std::function<void(int)> onProgress_;  // trades read so far, heard on the UI thread
  std::vector<std::string> statuses_;
};

// The number of rows and of distinct order numbers in a table of the database.
inline std::pair<int, int> StoredRows(const std::string& path, const char* table) {
  OrderDatabase db;
  if (!db.Open(path)) return {-1, -1};
  RecordSet rows = db.Query(std::string("select count(*), count(distinct 订单ID) from ") + table);
  return {std::stoi(rows.Read(1)), std::stoi(rows.Read(2))};
}

}  // namespace qm::test
