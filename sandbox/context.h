#pragma once
// What every part of the sandbox shares: the marketplace, its clock, the
// reply quirks, the fault table and the request log.
#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "market.h"
#include "quota.h"

namespace qm::sandbox {

// The sandbox's clock: the system clock shifted by an adjustable offset.
class Clock {
 public:
  std::time_t Now() const { return std::time(nullptr) + offset_.load(); }
  void SetOffset(std::int64_t seconds) { offset_ = seconds; }
  std::int64_t Offset() const { return offset_.load(); }

 private:
  std::atomic<std::int64_t> offset_{0};
};

// Oddities of the real platform that a client must survive.
struct Quirks {
  std::string hasNextText = "true";  // the has_next text while more pages follow
  bool pretty = false;               // line breaks and indentation inside every element
  // Listings that misbehave: every page of "endless" is page 1 and says
  // has_next; page `repeatPage` (> 1) repeats the trades of the page before
  // it; `nulAfterTrade` puts a NUL byte after the first trade of a page.
  bool endless = false;
  long repeatPage = 0;
  bool nulAfterTrade = false;
};

struct FaultRule {
  int latencyMs = 0;
  double errorRate = 0, resetRate = 0, truncateRate = 0;
  // A share of requests answered with the platform's own refusal of the
  // session (an error reply, status 200), as an expired key gets.
  double refuseRate = 0;
  double stallRate = 0;  // > 0: a share of requests answered stallMs late, after the work
  int stallMs = 0;       // before the handler: nothing is done until it ends
  int stallAfterMs = 0;  // after the handler: the work is done, the answer is late
  int trickleMs = 0;  // > 0: the body goes out one byte every trickleMs
  long firstN = 0;    // > 0: only the next N matching requests
  // When set, every matching request is answered with this body (status 200,
  // XML) instead of the handler's: the platform's own odd replies, such as a
  // call limit or an error that echoes its arguments.
  std::string replyBody;
  // When set, only requests of this gateway method / page number / rate
  // status match.
  std::string apiMethod;
  long pageNo = 0;
  std::string rateStatus;
};

// What one request gets from the fault table.
struct FaultPlan {
  int delayMs = 0;
  int stallMs = 0;
  int stallAfterMs = 0;
  int trickleMs = 0;
  enum class Kind { None, Error, Reset, Truncate, Refuse, Reply } kind = Kind::None;
  std::string replyBody;  // Reply
};

class FaultTable {
 public:
  explicit FaultTable(unsigned seed) : rng_(seed * 2654435761u + 1) {}
  // path "" or "*" applies to every non-admin path; an exact path wins over it.
  void Set(const std::string& path, const FaultRule& rule);
  void Clear();
  FaultPlan Draw(const std::string& path, const std::string& apiMethod = {}, long pageNo = 0,
                 const std::string& rateStatus = {});

 private:
  double Uniform();
  std::mutex mutex_;
  std::map<std::string, FaultRule> rules_;
  std::uint64_t rng_;
};

struct LogEntry {
  std::string method, path, query, body, apiMethod;
  int status = 0;  // 0: the connection was reset
  std::time_t time = 0;
  bool limited = false;  // turned away by the quota
};

class RequestLog {
 public:
  void Add(LogEntry entry);
  std::deque<LogEntry> Snapshot() const;
  void Clear();

 private:
  static constexpr std::size_t kLimit = 50000;
  mutable std::mutex mutex_;
  std::deque<LogEntry> entries_;
};

struct Context {
  Context(unsigned seed, int trades) : market(seed, trades, std::time(nullptr)), faults(seed) {}

  Market market;
  Clock clock;
  FaultTable faults;
  Quota quota;
  RequestLog log;
  int baseLatencyMs = 0;  // --latency-ms, on every non-admin request
  int port = 0;
  // Counted apart from the log, which keeps only its latest entries.
  std::atomic<long> ratingForms{0};       // every request to the rating form, faults included
  std::atomic<long> repeatedRatings{0};   // forms for an order the seller had rated already

  Quirks GetQuirks() const {
    std::lock_guard lock(quirkMutex);
    return quirks;
  }
  void SetQuirks(const Quirks& q) {
    std::lock_guard lock(quirkMutex);
    quirks = q;
  }
  std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port); }

  // Sleeps up to ms, waking early when the server stops. False when stopping.
  bool Sleep(int ms);
  void Stop();

  mutable std::mutex quirkMutex;
  Quirks quirks;
  std::mutex stopMutex;
  std::condition_variable stopCv;
  bool stopping = false;
};

// A public route: the added latency and the faults of its path apply, and the
// request goes into the log.
httplib::Server::Handler Served(Context& ctx, httplib::Server::Handler handler);

// Closes the request's connection with a TCP reset, from inside its handler.
bool ResetConnection(const httplib::Request& req);
// Ends every open connection of the server on `localPort` (used when it stops).
void EndIdleConnections(int localPort);

void RegisterGateway(httplib::Server& server, Context& ctx);
void RegisterApiTool(httplib::Server& server, Context& ctx);
void RegisterOAuth(httplib::Server& server, Context& ctx);
void RegisterRatePage(httplib::Server& server, Context& ctx);
void RegisterAdmin(httplib::Server& server, Context& ctx);

}  // namespace qm::sandbox
