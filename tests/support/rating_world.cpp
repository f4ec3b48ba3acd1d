#include "support/rating_world.h"

#include <optional>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "headless/run_lines.h"
#include "platform/platform_link.h"
#include "platform/platform_time.h"
#include "rating/rating_ledger.h"
#include "rating/rating_log.h"
#include "rating/schedule.h"
#include "settings/app_session.h"
#include "util/event_pump.h"

namespace qm::test {

std::string PlatformTimeAgo(const PlatformClock& clock, std::int64_t secondsAgo) {
  return FormatPlatformTime(static_cast<std::int64_t>(std::floor(clock.Now())) - secondsAgo);
}

std::string RatingWorld::EndTimeHoursAgo(int hoursAgo) {
  return PlatformTimeAgo(Clock(), static_cast<std::int64_t>(hoursAgo) * 3600 + 1800);
}

RatingWorld::RatingWorld(const Sandbox::Options& options) : sandbox_(options) {
  AppSession& s = session_;
  s.programDir = dir_.str();
  s.link = std::make_shared<PlatformLink>(MachineClock::On(machine_));
  sandbox_.UseInSession(s);
  s.autoContent = "欢迎再次光临！";
  s.ratingHours = 24.0f;
  view_.prompts = &prompts;
  Restart();
}

void RatingWorld::Restart() {
  run_.reset();
  auto lines = std::make_unique<RunLines>(Clock(), false, [this](const std::string& line) { log.push_back(line); });
  lines->end = [this](int code) {
    events.push_back("exit:" + std::to_string(code));
    exitCode = code;
    run_->Schedule().End();
  };
  lines_ = std::move(lines);
  std::string error;
  // Retries as the program makes them, without its waits of seconds.
  run_ = SellerRun::Open(session_.RunAccount(), CurrentRunSettings(session_),
                         {&loop_, &autoTimer, &refreshTimer, [this] { ++cacheClears; }, {20, 40, 80}, {50, 100}, &view_},
                         *lines_, &error);
  EXPECT_TRUE(run_ != nullptr) << error;
  run_->Book().Unrated().AttachView(&unratedView_);
  run_->Book().BuyerRated().AttachView(&buyerRatedView_);
}

RatingWorld::~RatingWorld() {
  run_.reset();
}

void RatingWorld::AwaitQuiet() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  loop_.RunPending();
  while (!run_->Schedule().Quiet() && std::chrono::steady_clock::now() < deadline)
    loop_.WaitAndRun(std::chrono::milliseconds(20));
  loop_.RunPending();
}

void RatingWorld::AwaitTimedWork() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  loop_.RunPending();
  const Scheduler& s = run_->Schedule();
  while ((s.PassRunning() || s.RefreshRunning() || !run_->Worker().Idle()) && std::chrono::steady_clock::now() < deadline)
    loop_.WaitAndRun(std::chrono::milliseconds(20));
  loop_.RunPending();
}

void RatingWorld::Pass() {
  auto renewals = [this] {
    return std::count_if(log.begin(), log.end(),
                         [](const std::string& line) { return line.rfind("refresh: the buyer-rated list is out of date", 0) == 0; });
  };
  const auto before = renewals();
  run_->RunAutoRatingPass();
  AwaitTimedWork();
  // A tick after a leap of the clock (a test's, as after a stop) renews the
  // buyer-rated list instead; the timer's next tick runs the pass.
  if (renewals() > before) {
    run_->RunAutoRatingPass();
    AwaitTimedWork();
  }
}

void RatingWorld::Refresh() {
  run_->refresh_cycle();
  AwaitTimedWork();
}

RatingAttempt RatingWorld::Rate(const std::string& tid, const std::string& result, const std::string& comment,
                                const RatingNote& note) {
  std::optional<RatingAttempt> answer;
  run_->Ledger().Rate({tid, result, comment, note}, [&answer](const RatingAttempt& a) { answer = a; });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!answer && std::chrono::steady_clock::now() < deadline) loop_.WaitAndRun(std::chrono::milliseconds(20));
  return answer.value_or(RatingAttempt{});
}

std::vector<std::string> RatingWorld::AddTrades(const std::vector<std::pair<int, std::string>>& trades) {
  nlohmann::json body;
  body["trades"] = nlohmann::json::array();
  for (const auto& [hoursAgo, buyer] : trades)
    body["trades"].push_back({{"buyer_nick", buyer}, {"end_time", EndTimeHoursAgo(hoursAgo)}});
  std::vector<std::string> tids;
  const auto reply = nlohmann::json::parse(sandbox_.AdminPost("trades", body.dump()), nullptr, false);
  if (reply.is_discarded() || !reply.contains("tids")) return tids;
  for (const auto& tid : reply["tids"]) tids.push_back(tid.is_string() ? tid.get<std::string>() : tid.dump());
  return tids;
}

std::string RatingWorld::AddTrade(int hoursAgo, const std::string& buyer, const std::string& buyerRate) {
  nlohmann::json trade = {{"buyer_nick", buyer}, {"end_time", EndTimeHoursAgo(hoursAgo)}};
  if (buyerRate != "none") trade["buyer_rate"] = buyerRate;
  nlohmann::json body;
  body["trades"] = nlohmann::json::array({trade});
  const auto reply = nlohmann::json::parse(sandbox_.AdminPost("trades", body.dump()), nullptr, false);
  if (reply.is_discarded() || !reply.contains("tids") || reply["tids"].empty()) return {};
  const auto& tid = reply["tids"][0];
  return tid.is_string() ? tid.get<std::string>() : tid.dump();
}

void RatingWorld::AddUnratedRow(const std::string& tid, const std::string& buyer, int hoursAgo) {
  Unrated().Append({{tid, buyer, EndTimeHoursAgo(hoursAgo)}});
}

std::vector<std::string> RatingWorld::Column(const OrderRows& list, int column) {
  std::vector<std::string> out;
  for (int i = 0; i < list.RowCount(); ++i) out.emplace_back(list.Cell(i, column));
  return out;
}

std::vector<SandboxRating> RatingWorld::Ratings() const {
  std::vector<SandboxRating> out;
  const auto reply = nlohmann::json::parse(sandbox_.AdminGet("ratings"), nullptr, false);
  if (!reply.is_array()) return out;
  for (const auto& r : reply)
    out.push_back({r.value("tid", ""), r.value("result", ""), r.value("content", "")});
  return out;
}

int RatingWorld::RatingPosts(const std::string& tid) const {
  const auto reply = nlohmann::json::parse(sandbox_.AdminGet("log"), nullptr, false);
  if (!reply.is_array()) return -1;
  int n = 0;
  const std::string marker = "&tid=" + tid + "&";
  for (const auto& e : reply)
    if (e.value("path", "") == "/apitools/getResult.do" && e.value("body", "").find(marker) != std::string::npos)
      ++n;
  return n;
}

int RatingWorld::RequestsTo(const std::string& path) const {
  const auto reply = nlohmann::json::parse(sandbox_.AdminGet("log"), nullptr, false);
  if (!reply.is_array()) return -1;
  int n = 0;
  for (const auto& e : reply)
    if (e.value("path", "") == path) ++n;
  return n;
}

bool RatingWorld::Faults(const std::string& json) { return !sandbox_.AdminPost("faults", json).empty(); }

void ClockedWorldTest::MoveClocks(double seconds) {
  shift = seconds;
  world.Market().AdminPost("clock", nlohmann::json{{"offset_seconds", static_cast<long long>(seconds)}}.dump());
}

}  // namespace qm::test
