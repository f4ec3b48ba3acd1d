#pragma once
// Starts build/bin/quillmere-sandbox on a free loopback port for one test (or
// one benchmark) and talks to its admin interface under "/__sandbox/".
//
// The admin interface (JSON in, JSON out):
//   GET  /__sandbox/seller        {"nick","user_id","avatar","app_key","app_secret","password","session"}
//   GET  /__sandbox/trades        every trade: [{"tid","buyer_nick","status","end_time",
//                                  "buyer_rate","buyer_comment","seller_rate","seller_comment","modified"}]
//                                  ("modified": when the record appeared, its trade ended or either
//                                  side rated it, whichever is latest)
//                                  (?rate_status=RATE_UNBUYER|RATE_UNSELLER|RATE_BUYER_UNSELLER filters)
//   POST /__sandbox/reset         {"seed":S,"trades":N}  a fresh marketplace (N may be 0); the sellers
//                                  and their credentials stay as they were
//   POST /__sandbox/trades        {"trades":[{"tid"?,"buyer_nick"?,"status"?,"end_time"? | "ended_hours_ago"?,
//                                  "buyer_rate"?,"buyer_comment"?,"seller_rate"?}]} adds trades of the seller;
//                                  answers {"tids":[...]}; rates are "none","good","neutral","bad"
//   POST /__sandbox/buyer-rate    {"tid","result","content"}  the buyer rates an order
//   POST /__sandbox/touch         {"tid"}  the trade changes otherwise than by a rating (a memo):
//                                  only its modification time moves to now
//   GET  /__sandbox/ratings       the seller's ratings given: [{"tid","result","content","time"}]
//   GET  /__sandbox/log           the request log: [{"method","path","query","body","api_method","status",
//                                  "limited" (turned away by the quota)}]
//   GET  /__sandbox/stats         {"rating_forms":N (every request to the rating form, faults included),
//                                  "repeated_ratings":M (forms for orders the seller had rated already)}
//   POST /__sandbox/log/clear
//   POST /__sandbox/faults        {"path":"/router/rest","latency_ms":L,"error_rate":p,"reset_rate":p,
//                                  "truncate_rate":p,"stall_ms":S,"stall_after_ms":A,"trickle_ms":T,
//                                  "api_method":M,"first_n":N,"rate_status":R}; {} clears every fault. stall_ms holds
//                                  the request before it is handled, stall_after_ms holds the answer
//                                  after (a rating is then recorded); a truncated body is also cut
//                                  after the handler ran; trickle_ms sends the body one byte every
//                                  T ms; api_method limits the rule to that API method. With
//                                  "stall_rate":p, stall_ms is instead the lateness of that share of
//                                  answers, given after the work is done.
//                                  Rates are shares 0..1 drawn from a seeded generator; first_n > 0
//                                  limits the fault to the next N matching requests; "api_method":M
//                                  and "page_no":P limit it to gateway calls of that method / page,
//                                  "rate_status":R to listings of that rate status.
//   POST /__sandbox/quirks        {"has_next":"true"|"True"|"" (the text sent while pages follow),
//                                  "pretty":bool (line breaks and indentation inside every element),
//                                  "endless":bool (every trades page is page 1 and says has_next),
//                                  "repeat_page":P (page P repeats the trades of page P-1),
//                                  "nul_after_trade":bool (a NUL byte after a page's first trade)}
//   POST /__sandbox/clock         {"offset_seconds":N}  shifts the sandbox's clock
//   POST /__sandbox/quota         {"daily_limit":N,"ban_every_seconds":E,"ban_seconds":S,"ban_method":M}
//                                  the platform's call limits (0: none): a key's gateway and rating-form
//                                  calls past N a day (Beijing time), and every E seconds of the sandbox
//                                  clock from now on (the first at once) a ban of S seconds on M (empty:
//                                  the first method called in it),
//                                  answered "App Call Limited" (code 7) and not carried out; answers as GET;
//                                  {"spent_today":N} alone counts N calls more for the demo seller's key today
//   GET  /__sandbox/quota         the options and {"calls_today","daily_refusals","ban_refusals","bans"}
//   GET  /__sandbox/sellers       every seller, as /seller; the second owns a few trades of its own
//                                  (POST /trades takes "seller":1 or "other" per trade for those;
//                                  GET /trades takes ?seller=1)
//   POST /__sandbox/write-config  {"path":FILE}  writes the demo seller's Config.ini section (WriteConfig)
//
// Every answer of the public routes carries "X-Sandbox-Handler-Us": the
// server time its handler took, in microseconds (the benchmarks read it).
#include <string>
#include <vector>

#include "settings/app_session.h"

namespace qm::test {

struct SandboxSeller {
  std::string nick, userId, avatar, appKey, appSecret, password, session;
};

class Sandbox {
 public:
  struct Options {
    unsigned seed = 1;
    int trades = 0;       // seeded trades besides those a test adds
    int latencyMs = 0;
    std::vector<std::string> extraArgs;
  };
  Sandbox();
  explicit Sandbox(const Options& options);
  ~Sandbox();  // SIGTERM, then waits for the process
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  bool Ok() const { return port_ > 0; }
  int Port() const { return port_; }
  std::string BaseUrl() const;  // "http://127.0.0.1:PORT"
  const SandboxSeller& Seller() const { return seller_; }

  // Body of the admin reply; empty on failure.
  std::string AdminGet(const std::string& path) const;   // path below "/__sandbox/"
  std::string AdminPost(const std::string& path, const std::string& json) const;

  // Writes the seller's section (appkey, AppSecret, SessionKey) into an INI file.
  bool WriteConfig(const std::string& iniPath) const;
  // Points the start-up record at this sandbox with the seller's credentials.
  void UseInSession(AppSession& s) const;
  // The seller's account at this sandbox (no data directory).
  Account SellerAccount() const;

 private:
  int pid_ = -1;
  int port_ = 0;
  SandboxSeller seller_;
};

}  // namespace qm::test
