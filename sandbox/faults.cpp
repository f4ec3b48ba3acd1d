// Fault injection and the request log of the public routes.
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <thread>

#include "context.h"

#include <algorithm>
#include "text.h"

namespace qm::sandbox {

void FaultTable::Set(const std::string& path, const FaultRule& rule) {
  std::lock_guard lock(mutex_);
  rules_[path == "*" ? std::string() : path] = rule;
}

void FaultTable::Clear() {
  std::lock_guard lock(mutex_);
  rules_.clear();
}

double FaultTable::Uniform() {
  std::uint64_t z = (rng_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return static_cast<double>(z >> 11) / 9007199254740992.0;
}

FaultPlan FaultTable::Draw(const std::string& path, const std::string& apiMethod, long pageNo,
                           const std::string& rateStatus) {
  FaultPlan plan;
  std::lock_guard lock(mutex_);
  auto it = rules_.find(path);
  if (it == rules_.end()) it = rules_.find(std::string());
  if (it == rules_.end()) return plan;
  FaultRule& rule = it->second;
  if (rule.firstN < 0) return plan;  // used up
  if (!rule.apiMethod.empty() && rule.apiMethod != apiMethod) return plan;
  if (rule.pageNo > 0 && rule.pageNo != pageNo) return plan;
  if (!rule.rateStatus.empty() && rule.rateStatus != rateStatus) return plan;
  plan.delayMs = rule.latencyMs;
  // With a stall share, stall_ms is the length of the drawn stalls only.
  plan.stallMs = rule.stallRate > 0 ? 0 : rule.stallMs;
  plan.stallAfterMs = rule.stallAfterMs;
  plan.trickleMs = rule.trickleMs;
  // One draw decides between the kinds, so their shares add up.
  const double u = Uniform();
  if (!rule.replyBody.empty()) {
    plan.kind = FaultPlan::Kind::Reply;
    plan.replyBody = rule.replyBody;
  } else if (u < rule.errorRate) {
    plan.kind = FaultPlan::Kind::Error;
  } else if (u < rule.errorRate + rule.resetRate) {
    plan.kind = FaultPlan::Kind::Reset;
  } else if (u < rule.errorRate + rule.resetRate + rule.truncateRate) {
    plan.kind = FaultPlan::Kind::Truncate;
  } else if (u < rule.errorRate + rule.resetRate + rule.truncateRate + rule.refuseRate) {
    plan.kind = FaultPlan::Kind::Refuse;
  } else if (u < rule.errorRate + rule.resetRate + rule.truncateRate + rule.refuseRate + rule.stallRate) {
    // The work is done and the answer comes late: the worst case for a client
    // that gives up waiting.
    plan.stallAfterMs = std::max(plan.stallAfterMs, rule.stallMs);
  }
  if (rule.firstN > 0 && --rule.firstN == 0) rule.firstN = -1;
  return plan;
}

void RequestLog::Add(LogEntry entry) {
  std::lock_guard lock(mutex_);
  if (entries_.size() >= kLimit) entries_.pop_front();
  entries_.push_back(std::move(entry));
}

std::deque<LogEntry> RequestLog::Snapshot() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

void RequestLog::Clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
}

bool Context::Sleep(int ms) {
  if (ms <= 0) return true;
  // A timed wait ends a few hundred microseconds late on a busy or virtual
  // machine; added latency is meant to be exact, so the wait ends a little
  // early and the rest is spent yielding until the moment has come.
  using Clock = std::chrono::steady_clock;
  const auto until = Clock::now() + std::chrono::milliseconds(ms);
  constexpr auto kEarly = std::chrono::microseconds(600);
  {
    std::unique_lock lock(stopMutex);
    if (stopCv.wait_until(lock, until - kEarly, [this] { return stopping; })) return false;
  }
  while (Clock::now() < until) std::this_thread::yield();
  std::lock_guard lock(stopMutex);
  return !stopping;
}

void Context::Stop() {
  {
    std::lock_guard lock(stopMutex);
    stopping = true;
  }
  stopCv.notify_all();
}

namespace {

// The server library does not hand out its sockets, so they are found among
// the process's descriptors: `visit(fd, peerPort)` for every connected IPv4
// socket whose own port is `localPort`, until it returns false.
template <class Visit>
void ForEachConnection(int localPort, Visit&& visit) {
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return;
  while (dirent* e = readdir(dir)) {
    char* end = nullptr;
    long fd = std::strtol(e->d_name, &end, 10);
    if (end == e->d_name || *end != '\0' || fd == dirfd(dir)) continue;
    sockaddr_in local{}, peer{};
    socklen_t llen = sizeof local, plen = sizeof peer;
    if (getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&local), &llen) != 0) continue;
    if (local.sin_family != AF_INET || ntohs(local.sin_port) != localPort) continue;
    if (getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &plen) != 0) continue;
    if (!visit(static_cast<int>(fd), static_cast<int>(ntohs(peer.sin_port)))) break;
  }
  closedir(dir);
}

}  // namespace

bool ResetConnection(const httplib::Request& req) {
  int found = -1;
  ForEachConnection(req.local_port, [&](int fd, int peerPort) {
    if (peerPort != req.remote_port) return true;
    found = fd;
    return false;
  });
  if (found < 0) return false;
  // Zero linger turns the close into a reset. The descriptor number stays
  // taken by an unconnected socket, which the server then fails to write to
  // and closes as usual.
  linger lg{1, 0};
  setsockopt(found, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
  int placeholder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (placeholder < 0) return false;
  dup2(placeholder, found);
  close(placeholder);
  return true;
}

void EndIdleConnections(int localPort) {
  // A shut socket reads as ended, so a connection waiting for its client's
  // next request is closed at once instead of after the keep-alive time.
  ForEachConnection(localPort, [](int fd, int) {
    shutdown(fd, SHUT_RDWR);
    return true;
  });
}

namespace {

std::string QueryOf(const httplib::Request& req) {
  std::size_t q = req.target.find('?');
  return q == std::string::npos ? std::string() : req.target.substr(q + 1);
}

// A value of the query, or of the form body.
std::string CallValue(const httplib::Request& req, const char* name) {
  if (req.has_param(name)) return req.get_param_value(name);
  if (!req.body.empty()) {
    if (auto m = FormValue(ParseForm(req.body), name)) return *m;
  }
  return {};
}

std::string ApiMethodOf(const httplib::Request& req) { return CallValue(req, "method"); }

// The gateway's and the rating form's calls count against the key's quota;
// a key the marketplace does not know is refused by the handler instead.
std::optional<std::string> QuotaRefusal(Context& ctx, const httplib::Request& req, const std::string& apiMethod) {
  if (req.path != "/router/rest" && req.path != "/apitools/getResult.do") return std::nullopt;
  const std::string appKey = CallValue(req, "app_key");
  if (ctx.market.SellerByAppKey(appKey) < 0) return std::nullopt;
  return ctx.quota.Admit(appKey, apiMethod, ctx.clock.Now(), ctx.GetQuirks().pretty);
}

}  // namespace

httplib::Server::Handler Served(Context& ctx, httplib::Server::Handler handler) {
  return [&ctx, handler = std::move(handler)](const httplib::Request& req, httplib::Response& res) {
    std::string apiMethod = ApiMethodOf(req);
    const FaultPlan plan = ctx.faults.Draw(req.path, apiMethod, std::atol(req.get_param_value("page_no").c_str()),
                                           req.get_param_value("rate_status"));
    if (req.path == "/apitools/getResult.do") ++ctx.ratingForms;
    // Every answer carries the date by the marketplace's own clock, as a web server's does.
    res.set_header("Date", FormatHttpDate(ctx.clock.Now()));
    LogEntry entry{req.method, req.path, QueryOf(req), req.body.substr(0, 65536), std::move(apiMethod), 0,
                   ctx.clock.Now()};
    if (!ctx.Sleep(ctx.baseLatencyMs + plan.delayMs) || !ctx.Sleep(plan.stallMs)) {
      res.status = 503;
      return;
    }
    switch (plan.kind) {
      case FaultPlan::Kind::Error:
        res.status = 500;
        res.set_content("<html><body><h1>500 Internal Server Error</h1><p>sandbox fault</p></body></html>",
                        "text/html; charset=utf-8");
        entry.status = 500;
        ctx.log.Add(std::move(entry));
        return;
      case FaultPlan::Kind::Refuse:
        res.status = 200;
        res.set_content("<?xml version=\"1.0\" encoding=\"utf-8\" ?><error_response><code>27</code>"
                        "<msg>Invalid session</msg><sub_code>invalid-sessionkey</sub_code></error_response>",
                        "text/xml;charset=UTF-8");
        entry.status = 200;
        ctx.log.Add(std::move(entry));
        return;
      case FaultPlan::Kind::Reply:
        res.status = 200;
        res.set_content(plan.replyBody, "text/xml;charset=UTF-8");
        entry.status = 200;
        ctx.log.Add(std::move(entry));
        return;
      case FaultPlan::Kind::Reset:
        ResetConnection(req);
        res.status = 500;
        entry.status = 0;
        ctx.log.Add(std::move(entry));
        return;
      default:
        break;
    }
    if (auto refusal = QuotaRefusal(ctx, req, entry.apiMethod)) {
      res.status = 200;
      res.set_content(*refusal, "text/xml;charset=UTF-8");
      entry.status = 200;
      entry.limited = true;
      ctx.log.Add(std::move(entry));
      return;
    }
    const auto started = std::chrono::steady_clock::now();
    handler(req, res);
    const auto spent = std::chrono::steady_clock::now() - started;
    res.set_header("X-Sandbox-Handler-Us",
                   std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(spent).count()));
    if (res.status == -1) res.status = 200;
    entry.status = res.status;
    ctx.log.Add(std::move(entry));
    // What the handler did stands (a rating is recorded); only its answer is late.
    if (!ctx.Sleep(plan.stallAfterMs)) {
      res.status = 503;
      res.body.clear();
      return;
    }
    if (plan.kind == FaultPlan::Kind::Truncate && !res.body.empty()) {
      // The full length is announced; half of the body is sent, then the
      // connection closes.
      auto full = std::make_shared<std::string>(std::move(res.body));
      std::string type = res.get_header_value("Content-Type");
      res.body.clear();
      res.headers.erase("Content-Type");
      res.set_content_provider(full->size(), type,
                               [full](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                 const std::size_t half = full->size() / 2;
                                 if (offset < half) sink.write(full->data() + offset, half - offset);
                                 return false;
                               });
    } else if (plan.trickleMs > 0 && !res.body.empty()) {
      // The whole body, one byte at a time: a reply that keeps moving but
      // never ends in reasonable time.
      auto full = std::make_shared<std::string>(std::move(res.body));
      std::string type = res.get_header_value("Content-Type");
      res.body.clear();
      res.headers.erase("Content-Type");
      const int every = plan.trickleMs;
      res.set_content_provider(full->size(), type,
                               [&ctx, full, every](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                 if (!ctx.Sleep(every)) return false;
                                 return sink.write(full->data() + offset, 1);
                               });
    }
  };
}

}  // namespace qm::sandbox
