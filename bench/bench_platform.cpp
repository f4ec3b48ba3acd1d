// The platform client's costs.
// - One web_request (worker thread, records, event-pump wait) against a bare
//   libcurl GET of the same page on loopback. Target: at most 10 % more wall
//   time. web_request keeps the connections of GETs open for the next one, so
//   it is measured against two baselines: a fresh easy handle (and connection)
//   per GET, and one easy handle kept for every GET, which keeps its
//   connection too; BM_WebRequestOverhead reports both shares
//   ("over_fresh_pct", "over_keepalive_pct"). The second is the fair one.
// - Decoding a page of 100 trades and reading every field of it. Target: at
//   most 0.2 ms.
// - Walking the trades of replies of several megabytes: linear in the size.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/reply.h"
#include "platform/transport.h"
#include "util/event_pump.h"

namespace {

using Clock = std::chrono::steady_clock;

// A reply of `trades` finished trades as the gateway writes it.
std::string TradesPage(int trades) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\" ?><trades_sold_get_response><trades list=\"true\">";
  for (int i = 0; i < trades; ++i) {
    xml += "<trade><buyer_nick>买家" + std::to_string(i) + "号tb_buyer</buyer_nick><end_time>2014-09-" +
           std::to_string(10 + i % 19) + " 09:05:03</end_time><tid>" + std::to_string(198765432100000LL + i) +
           "</tid></trade>";
  }
  xml += "</trades><has_next>false</has_next><total_results>" + std::to_string(trades) +
         "</total_results></trades_sold_get_response>";
  return xml;
}

// A loopback server answering every GET with one page of 100 trades.
class PageServer {
 public:
  PageServer() : page_(TradesPage(100)) {
    // As any real web server: without it, a reply written in two pieces on a
    // kept connection waits for the client's delayed acknowledgement.
    server_.set_tcp_nodelay(true);
    server_.Get(".*", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(page_, "text/xml;charset=UTF-8");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~PageServer() {
    server_.stop();
    thread_.join();
  }
  std::string Url() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/router/rest?sign=0&timestamp=2014-09-19%2009:05:03";
  }

 private:
  std::string page_;
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
};

PageServer& Server() {
  static PageServer server;
  return server;
}

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

// The baseline: one easy handle per GET on the calling thread, as plain as it gets.
std::string BareGet(const std::string& url) {
  std::string body;
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  return body;
}

// The other baseline: one easy handle for every GET, so libcurl keeps the
// connection open between them.
std::string BareGetKeepAlive(const std::string& url) {
  static CURL* curl = curl_easy_init();
  std::string body;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  curl_easy_perform(curl);
  return body;
}

void BM_BareCurlGet(benchmark::State& state) {
  const std::string url = Server().Url();
  for (auto _ : state) benchmark::DoNotOptimize(BareGet(url));
}
BENCHMARK(BM_BareCurlGet)->Unit(benchmark::kMicrosecond);

void BM_BareCurlGetKeepAlive(benchmark::State& state) {
  const std::string url = Server().Url();
  for (auto _ : state) benchmark::DoNotOptimize(BareGetKeepAlive(url));
}
BENCHMARK(BM_BareCurlGetKeepAlive)->Unit(benchmark::kMicrosecond);

void BM_WebRequest(benchmark::State& state) {
  const std::string url = Server().Url();
  for (auto _ : state) benchmark::DoNotOptimize(qm::web_request(qm::WebRequest::Get(url)).body);
}
BENCHMARK(BM_WebRequest)->Unit(benchmark::kMicrosecond);

// The kinds in turn, so that drift of the machine's load hits all alike.
// Each kind runs a few GETs in a row, as a download does, so that the kept
// connections are used the way they are in the program. The shares are the
// medians over the rounds: a burst of load from elsewhere on the machine
// spoils a round or two, not the figure.
void BM_WebRequestOverhead(benchmark::State& state) {
  constexpr int kRun = 8;
  const std::string url = Server().Url();
  double fresh = 0, kept = 0, web = 0;
  std::vector<double> overFresh, overKept;
  auto timed = [](auto&& get) {
    const auto t0 = Clock::now();
    for (int i = 0; i < kRun; ++i) benchmark::DoNotOptimize(get());
    return std::chrono::duration<double, std::micro>(Clock::now() - t0).count() / kRun;
  };
  for (auto _ : state) {
    const double f = timed([&] { return BareGet(url); });
    const double k = timed([&] { return BareGetKeepAlive(url); });
    const double w = timed([&] { return qm::web_request(qm::WebRequest::Get(url)).body; });
    fresh += f;
    kept += k;
    web += w;
    overFresh.push_back(100.0 * (w - f) / f);
    overKept.push_back(100.0 * (w - k) / k);
  }
  auto median = [](std::vector<double> v) {
    if (v.empty()) return 0.0;
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
    return v[v.size() / 2];
  };
  const double n = static_cast<double>(state.iterations());
  state.counters["fresh_us"] = fresh / n;
  state.counters["keepalive_us"] = kept / n;
  state.counters["web_request_us"] = web / n;
  state.counters["over_fresh_pct"] = median(overFresh);
  state.counters["over_keepalive_pct"] = median(overKept);
}
BENCHMARK(BM_WebRequestOverhead)->Unit(benchmark::kMicrosecond);

// Decoding one page and reading every trade's fields and the paging flag.
void BM_DecodeAndReadTradesPage(benchmark::State& state) {
  const std::string bytes = TradesPage(100);
  for (auto _ : state) {
    const std::string text = qm::decode_reply(bytes);
    std::size_t pos = 0;
    int trades = 0;
    for (;;) {
      const std::string trade = qm::extract_between_from(text, "<trade>", "</trade>", &pos);
      if (pos == std::string::npos) break;
      benchmark::DoNotOptimize(qm::extract_between(trade, "<tid>", "<"));
      benchmark::DoNotOptimize(qm::extract_between(trade, "<buyer_nick>", "<"));
      benchmark::DoNotOptimize(qm::extract_between(trade, "<end_time>", "<"));
      ++trades;
    }
    benchmark::DoNotOptimize(qm::extract_between(text, "<has_next>", "<"));
    if (trades != 100) state.SkipWithError("wrong trade count");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_DecodeAndReadTradesPage)->Unit(benchmark::kMicrosecond);

// Walking every trade of one large reply: time grows with the size, not its square.
void BM_WalkLargeReply(benchmark::State& state) {
  const std::string text = qm::decode_reply(TradesPage(static_cast<int>(state.range(0))));
  for (auto _ : state) {
    std::size_t pos = 0;
    std::size_t count = 0;
    while (true) {
      benchmark::DoNotOptimize(qm::extract_between_from(text, "<tid>", "<", &pos));
      if (pos == std::string::npos) break;
      ++count;
    }
    benchmark::DoNotOptimize(count);
  }
  state.SetComplexityN(static_cast<std::int64_t>(text.size()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_WalkLargeReply)->RangeMultiplier(4)->Range(10000, 160000)->Unit(benchmark::kMillisecond)->Complexity();

}  // namespace

BENCHMARK_MAIN();
