// The sandbox's injected faults: each kind, per path, limited to the next N
// requests, shares, and clearing; and the request log that records them.
#include <gtest/gtest.h>

#include <httplib.h>

#include <chrono>
#include <nlohmann/json.hpp>

#include "support/sandbox_calls.h"

namespace qm::test {
namespace {

bool SetFaults(const Sandbox& sandbox, const nlohmann::json& spec) {
  return !sandbox.AdminPost("faults", spec.dump()).empty();
}

HttpResult TimeGet(const Sandbox& sandbox, int timeoutMs = 10000) {
  return HttpGet(sandbox, "/router/rest?" + SignedQuery(sandbox, "taobao.time.get", {}), timeoutMs);
}

TEST(SandboxFaults, ErrorsAnswer500WithABodyOnTheirPathOnly) {
  Sandbox sandbox;
  ASSERT_TRUE(sandbox.Ok());
  ASSERT_TRUE(SetFaults(sandbox, {{"path", "/router/rest"}, {"error_rate", 1.0}}));
  HttpResult r = TimeGet(sandbox);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.status, 500);
  EXPECT_FALSE(r.body.empty());
  EXPECT_EQ(r.body.find("<time>"), std::string::npos);
  // Another path is untouched.
  EXPECT_EQ(HttpGet(sandbox, "/myRate.htm").status, 200);
  ASSERT_TRUE(SetFaults(sandbox, nlohmann::json::object()));
  EXPECT_EQ(TimeGet(sandbox).status, 200);
}

TEST(SandboxFaults, ResetsAndTruncationsLeaveTheClientWithoutAnAnswer) {
  Sandbox sandbox;
  ASSERT_TRUE(sandbox.Ok());
  ASSERT_TRUE(SetFaults(sandbox, {{"path", "/router/rest"}, {"reset_rate", 1.0}}));
  EXPECT_FALSE(TimeGet(sandbox).ok);
  ASSERT_TRUE(SetFaults(sandbox, {{"path", "/router/rest"}, {"truncate_rate", 1.0}}));
  EXPECT_FALSE(TimeGet(sandbox).ok);
  // The server itself keeps serving.
  ASSERT_TRUE(SetFaults(sandbox, nlohmann::json::object()));
  HttpResult r = TimeGet(sandbox);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(FirstValue(r.body, "<time>").size(), 19u);

  auto log = nlohmann::json::parse(sandbox.AdminGet("log"));
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0]["status"], 0);  // reset
  EXPECT_EQ(log[0]["api_method"], "taobao.time.get");
  EXPECT_EQ(log[2]["status"], 200);
  EXPECT_EQ(log[2]["path"], "/router/rest");
  EXPECT_NE(log[2]["query"].get<std::string>().find("method=taobao.time.get"), std::string::npos);
}

TEST(SandboxFaults, TruncatedBodiesAreCutInHalf) {
  Sandbox sandbox;
  ASSERT_TRUE(sandbox.Ok());
  ASSERT_TRUE(SetFaults(sandbox, {{"path", "/myRate.htm"}, {"truncate_rate", 1.0}}));
  // Read the raw bytes: the announced length is not reached.
  httplib::Client client("127.0.0.1", sandbox.Port());
  std::string got;
  std::string announced;
  auto res = client.Get(
      "/myRate.htm",
      [&](const httplib::Response& response) {
        announced = response.get_header_value("Content-Length");
        return true;
      },
      [&](const char* data, std::size_t n) {
        got.append(data, n);
        return true;
      });
  EXPECT_FALSE(res);
  ASSERT_FALSE(announced.empty());
  EXPECT_EQ(got.size(), std::stoul(announced) / 2);
}

TEST(SandboxFaults, StallsOutlastTheClientsTimeOutAndLatencyDelays) {
  Sandbox sandbox;
  ASSERT_TRUE(sandbox.Ok());
  ASSERT_TRUE(SetFaults(sandbox, {{"path", "/router/rest"}, {"stall_ms", 3000}, {"first_n", 1}}));
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(TimeGet(sandbox, 500).ok);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
  // first_n used up: the next call is served at once.
  EXPECT_TRUE(TimeGet(sandbox, 2000).ok);

  ASSERT_TRUE(SetFaults(sandbox, {{"path", "/router/rest"}, {"latency_ms", 300}}));
  start = std::chrono::steady_clock::now();
  EXPECT_TRUE(TimeGet(sandbox).ok);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

TEST(SandboxFaults, FirstNLimitsAFaultAndSharesAreDrawn) {
  Sandbox sandbox;
  ASSERT_TRUE(sandbox.Ok());
  ASSERT_TRUE(SetFaults(sandbox, {{"error_rate", 1.0}, {"first_n", 2}}));  // every path
  EXPECT_EQ(TimeGet(sandbox).status, 500);
  EXPECT_EQ(HttpGet(sandbox, "/myRate.htm").status, 500);
  EXPECT_EQ(TimeGet(sandbox).status, 200);

  ASSERT_TRUE(SetFaults(sandbox, {{"path", "/router/rest"}, {"error_rate", 0.5}}));
  int errors = 0;
  for (int i = 0; i < 200; ++i) errors += TimeGet(sandbox).status == 500;
  EXPECT_GT(errors, 60);
  EXPECT_LT(errors, 140);
}

TEST(SandboxFaults, RefusesNonsense) {
  Sandbox sandbox;
  ASSERT_TRUE(sandbox.Ok());
  EXPECT_FALSE(SetFaults(sandbox, {{"error_rate", 1.5}}));
  EXPECT_FALSE(SetFaults(sandbox, {{"latency_ms", -1}}));
  EXPECT_TRUE(sandbox.AdminPost("faults", "not json").empty());
  EXPECT_EQ(TimeGet(sandbox).status, 200);
}

}  // namespace
}  // namespace qm::test
