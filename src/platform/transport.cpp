#include "platform/transport.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "util/event_pump.h"
#include "util/text_codec.h"

namespace qm {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The markers of the request and reply records in the private buffer.
constexpr std::string_view kRequestMarker = "Vorlix";
constexpr std::string_view kReplyMarker = "Vorlix_OK";
constexpr std::size_t kRequestItems = 8;  // marker, url, method, proxy, user, password, referrer, body

constexpr long long kDefaultTimeoutSeconds = 10;
// libcurl ends every exchange at the wait limit; the caller allows it this
// much longer to report, so that its own end is what ends the wait.
constexpr milliseconds kReportGrace{1000};
// A reply past this size is refused rather than held (no page of the platform
// comes near it).
constexpr std::size_t kMaxBodyBytes = std::size_t{128} << 20;
// The credentials the request is opened with; libcurl offers them only when a
// server asks for authentication.
constexpr const char* kOpenCredential = "579";
constexpr const char* kUserAgent = "Quillmere/1.0";

// What a worker needs for one exchange (its own copy of the request record).
struct RequestSpec {
  std::string url;
  bool post = false;
  std::string proxy, proxyUser, proxyPassword, referrer, body;
  long long limitMs = 0;  // 0: the blocking GET's own time-outs
};

struct Outcome {
  bool ok = false;
  std::string body;
  std::string headers;
};

// The private buffer of one web_request and what the caller and the worker
// say to each other about it. Held by shared_ptr: a worker that outlives its
// caller's wait keeps it alive by itself and writes nowhere else.
struct Exchange {
  std::mutex mutex;
  std::condition_variable ended;
  std::vector<std::string> buffer;
  bool finished = false;
  bool abandoned = false;      // the caller stopped waiting; the reply is never read
  EventPump* wake = nullptr;   // the pump the caller waits on; null once it stopped
};

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// libcurl refuses a URL holding a space or a control byte; the gateway's
// timestamp carries one space. Those bytes, and any byte outside ASCII, go
// out percent-encoded; everything else is sent as it is.
std::string UrlForCurl(std::string_view url) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(url.size() + 8);
  for (char ch : url) {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c >= 0x7F) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    } else {
      out += ch;
    }
  }
  return out;
}

struct Sink {
  std::string body;
  bool overflow = false;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* sink = static_cast<Sink*>(user);
  const std::size_t length = size * count;
  if (sink->body.size() + length > kMaxBodyBytes) {
    sink->overflow = true;
    return 0;  // ends the transfer with an error
  }
  sink->body.append(data, length);
  return length;
}

// Collects the header lines of the last response, as the request object's
// header text: one "Name: value" line each, without the status line. A new
// status line (a redirect, "100 Continue", a proxy's tunnel answer) starts over.
std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto* headers = static_cast<std::string*>(user);
  const std::size_t length = size * count;
  std::string_view line(data, length);
  if (line.substr(0, 5) == "HTTP/") {
    headers->clear();
  } else if (line != "\r\n" && line != "\n") {
    headers->append(line);
  }
  return length;
}

Outcome Perform(const RequestSpec& spec) {
  GlobalInit();
  Outcome outcome;
  CURL* curl = curl_easy_init();
  if (curl == nullptr) return outcome;

  const std::string url = UrlForCurl(spec.url);
  Sink sink;
  std::string headers;
  curl_slist* requestHeaders = nullptr;
  // No "Expect: 100-continue" round trip before a form body.
  requestHeaders = curl_slist_append(requestHeaders, "Expect:");

  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_DEFAULT_PROTOCOL, "http");
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &headers);
  if (spec.limitMs > 0) {
    // The whole exchange, connection included, ends at the caller's wait
    // limit: no exchange outlives the wait that started it.
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(spec.limitMs));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(spec.limitMs));
  } else {
    // The blocking GET: a connection must be made within 30 seconds, and a
    // reply that stops moving for 30 seconds counts as failed.
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 30L);
  }
  if (!spec.proxy.empty()) {
    curl_easy_setopt(curl, CURLOPT_PROXY, spec.proxy.c_str());
    if (!spec.proxyUser.empty()) {
      curl_easy_setopt(curl, CURLOPT_PROXYUSERNAME, spec.proxyUser.c_str());
      curl_easy_setopt(curl, CURLOPT_PROXYPASSWORD, spec.proxyPassword.c_str());
      curl_easy_setopt(curl, CURLOPT_PROXYAUTH, CURLAUTH_ANY);
    }
  }
  curl_easy_setopt(curl, CURLOPT_USERNAME, kOpenCredential);
  curl_easy_setopt(curl, CURLOPT_PASSWORD, kOpenCredential);
  curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_ANY);
  if (!spec.referrer.empty()) curl_easy_setopt(curl, CURLOPT_REFERER, spec.referrer.c_str());
  if (spec.post) {
    requestHeaders = curl_slist_append(requestHeaders, "Content-Type: application/x-www-form-urlencoded");
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(spec.body.size()));
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, spec.body.data());
  } else {
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  }
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, requestHeaders);

  const CURLcode result = curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  curl_slist_free_all(requestHeaders);

  // Any failure of the exchange (refused, reset, cut short, timed out, too
  // large) is no reply at all; the status code is not looked at.
  if (result == CURLE_OK && !sink.overflow) {
    outcome.ok = true;
    outcome.body = std::move(sink.body);
    outcome.headers = std::move(headers);
  }
  return outcome;
}

// The worker side: read the request record, empty the buffer, do the
// exchange, and write the reply record only for a non-empty body whose caller
// is still waiting.
void Work(const std::shared_ptr<Exchange>& exchange, long long limitMs) {
  RequestSpec spec;
  bool valid = false;
  {
    std::lock_guard<std::mutex> lock(exchange->mutex);
    auto& b = exchange->buffer;
    if (b.size() == kRequestItems && b[0] == kRequestMarker) {
      spec.url = std::move(b[1]);
      spec.post = b[2] == "POST";
      spec.proxy = std::move(b[3]);
      spec.proxyUser = std::move(b[4]);
      spec.proxyPassword = std::move(b[5]);
      spec.referrer = std::move(b[6]);
      spec.body = std::move(b[7]);
      spec.limitMs = limitMs;
      valid = true;
    }
    b.clear();
  }
  Outcome outcome;
  if (valid) outcome = Perform(spec);

  std::lock_guard<std::mutex> lock(exchange->mutex);
  if (!exchange->abandoned && outcome.ok && !outcome.body.empty()) {
    exchange->buffer = {std::string(kReplyMarker), std::move(outcome.headers), std::move(outcome.body)};
  }
  exchange->finished = true;
  exchange->ended.notify_all();
  // Wakes the caller's wait. Under the lock, so the pump is known to be alive:
  // a caller that stopped waiting has cleared `wake` under the same lock.
  if (exchange->wake != nullptr) exchange->wake->Post([] {});
}

// Worker threads. Each exchange runs on a worker thread of its own; a worker
// that has finished stays ready for the next exchange for a few seconds, so
// that a run of requests (the pages of a download, the ratings of many orders)
// does not pay for a new thread each time. A worker carries nothing from one
// exchange to the next: every exchange has its own buffer and its own handle.
class Workers {
 public:
  static Workers& Get() {
    // Never destroyed: idle workers may still wait on it while the process ends.
    static Workers* workers = new Workers;
    return *workers;
  }

  // Runs `job` on an idle worker, or on a new thread; false when no thread
  // could be had.
  bool Run(std::function<void()> job) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (idle_ > 0) {
        --idle_;
        jobs_.push_back(std::move(job));
        ready_.notify_one();
        return true;
      }
    }
    try {
      std::thread([this, first = std::move(job)]() mutable { Serve(std::move(first)); }).detach();
    } catch (const std::system_error&) {
      return false;
    }
    return true;
  }

 private:
  static constexpr std::chrono::seconds kLinger{5};

  void Serve(std::function<void()> job) {
    for (;;) {
      job();
      job = nullptr;
      std::unique_lock<std::mutex> lock(mutex_);
      ++idle_;
      if (!ready_.wait_for(lock, kLinger, [this] { return !jobs_.empty(); })) {
        --idle_;
        return;
      }
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
  }

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> jobs_;
  int idle_ = 0;  // waiting workers not yet handed a job
};

// The caller's wait on the UI thread: every event restarts the limit, and a
// full limit without an event ends the wait. libcurl ends the exchange at the
// limit, so the worker reports by then however busy the windows are; the hard
// end stops the wait even if it does not.
bool WaitPumping(EventPump& pump, Exchange& exchange, milliseconds limit) {
  const Clock::time_point hardEnd = Clock::now() + limit + kReportGrace;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(exchange.mutex);
      if (exchange.finished) return true;
    }
    const auto left = std::chrono::duration_cast<milliseconds>(hardEnd - Clock::now());
    if (left <= milliseconds::zero()) break;
    if (!pump.WaitAndRun(std::min(limit, left))) break;
  }
  std::lock_guard<std::mutex> lock(exchange.mutex);
  return exchange.finished;
}

// Off the UI thread (the first load's worker) or without a pump: a plain wait.
bool WaitPlainly(Exchange& exchange, milliseconds limit) {
  std::unique_lock<std::mutex> lock(exchange.mutex);
  return exchange.ended.wait_for(lock, limit + kReportGrace, [&] { return exchange.finished; });
}

std::string NormaliseUrl(const std::string& url) {
  if (url.compare(0, 7, "http://") == 0 || url.compare(0, 8, "https://") == 0) return url;
  return "http://" + url;
}

}  // namespace

std::string web_request(const std::string& url, const std::string& method, const std::string& proxy,
                        const std::string& proxy_user, const std::string& proxy_password,
                        const std::string& referrer, const std::string& body, int timeout_seconds,
                        std::string* response_headers, bool want_headers) {
  const bool post = EqualsNoCase(method, "POST");
  const long long seconds = timeout_seconds > 0 ? timeout_seconds : kDefaultTimeoutSeconds;
  const milliseconds limit{seconds * 1000};

  auto exchange = std::make_shared<Exchange>();
  exchange->buffer = {std::string(kRequestMarker), NormaliseUrl(url), post ? "POST" : "GET",
                      proxy, proxy_user, proxy_password, referrer, post ? body : std::string()};
  EventPump* pump = CurrentEventPump();
  const bool pumping = pump != nullptr && pump->OnOwnerThread();
  exchange->wake = pumping ? pump : nullptr;

  const long long limitMs = limit.count();
  if (!Workers::Get().Run([exchange, limitMs] { Work(exchange, limitMs); })) {
    if (want_headers && response_headers != nullptr) response_headers->clear();
    return std::string();
  }

  const bool finished = pumping ? WaitPumping(*pump, *exchange, limit) : WaitPlainly(*exchange, limit);

  std::string reply, headers;
  {
    std::lock_guard<std::mutex> lock(exchange->mutex);
    exchange->wake = nullptr;
    if (!finished) {
      // Time-out: whatever the worker gets later is never read, and it no
      // longer writes the reply record.
      exchange->abandoned = true;
    } else if (exchange->buffer.size() == 3 && exchange->buffer[0] == kReplyMarker) {
      headers = std::move(exchange->buffer[1]);
      reply = std::move(exchange->buffer[2]);
    }
    exchange->buffer.clear();
  }
  if (want_headers && response_headers != nullptr) *response_headers = std::move(headers);
  return reply;
}

std::string web_get_simple(const std::string& url) {
  RequestSpec spec;
  spec.url = url;
  Outcome outcome = Perform(spec);
  return outcome.ok ? std::move(outcome.body) : std::string();
}

}  // namespace qm
