#include "platform/transport.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
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

#include "util/libraries.h"
#include "util/stop.h"
#include "util/text_codec.h"

namespace qm {

// The private buffer of one web_request and what the caller and the worker
// say to each other about it. Held by shared_ptr: a worker that outlives its
// caller's wait keeps it alive by itself and writes nowhere else.
struct WebExchange {
  std::mutex mutex;
  std::condition_variable ended;
  std::vector<std::string> buffer;
  // Set under `mutex`; also read without it by a caller that polls briefly
  // before it sleeps.
  std::atomic<bool> finished{false};
  bool abandoned = false;      // the caller stopped waiting; the reply is never read
  bool wantHeaders = false;    // the caller reads the reply's header text
  std::chrono::steady_clock::time_point started;
  std::chrono::milliseconds limit{0};
};

namespace {

using Exchange = WebExchange;
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
  long long limitMs = 0;
};

struct Outcome {
  bool ok = false;
  std::string body;
  std::string headers;
};

// How long a thread handing work to another polls for the answer before it
// goes to sleep. Waking a sleeping thread costs tens of microseconds on a
// virtual machine, as much as a whole exchange on loopback; a short poll
// catches the quick answers and costs little when the answer is slow.
constexpr std::chrono::microseconds kHandOffPoll{400};

// Polls `ready` for at most `limit`; true as soon as it holds.
template <class Ready>
bool PollBriefly(Ready&& ready, std::chrono::microseconds limit) {
  const Clock::time_point end = Clock::now() + limit;
  for (unsigned spin = 0;; ++spin) {
    if (ready()) return true;
    if ((spin & 63) == 63) {
      if (Clock::now() >= end) return false;
      std::this_thread::yield();  // leaves the core to a thread with real work
    }
  }
}

// The connections of finished GET exchanges stay open for the next GET to the
// same server: the pages of a download then share one connection instead of
// opening one each. A POST never uses them and leaves none behind, so a form
// is never sent again by libcurl's retry on a connection that died under it.
// Nothing else is shared: every exchange sets all of its options anew.
class ConnectionShare {
 public:
  ConnectionShare() : handle_(curl_share_init()) {
    if (handle_ == nullptr) return;
    curl_share_setopt(handle_, CURLSHOPT_LOCKFUNC, Lock);
    curl_share_setopt(handle_, CURLSHOPT_UNLOCKFUNC, Unlock);
    curl_share_setopt(handle_, CURLSHOPT_USERDATA, this);
    if (curl_share_setopt(handle_, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT) != CURLSHE_OK ||
        curl_share_setopt(handle_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS) != CURLSHE_OK) {
      curl_share_cleanup(handle_);
      handle_ = nullptr;
    }
  }
  // Every exchange has let go of it by now (Perform detaches it after use).
  ~ConnectionShare() {
    if (handle_ != nullptr) curl_share_cleanup(handle_);
  }
  ConnectionShare(const ConnectionShare&) = delete;
  ConnectionShare& operator=(const ConnectionShare&) = delete;

  CURLSH* Handle() const { return handle_; }

 private:
  std::mutex& MutexFor(curl_lock_data data) {
    const auto i = static_cast<std::size_t>(data);
    return mutexes_[i < kKinds ? i : 0];
  }
  static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
    static_cast<ConnectionShare*>(self)->MutexFor(data).lock();
  }
  static void Unlock(CURL*, curl_lock_data data, void* self) {
    static_cast<ConnectionShare*>(self)->MutexFor(data).unlock();
  }

  static constexpr std::size_t kKinds = CURL_LOCK_DATA_LAST;
  CURLSH* handle_ = nullptr;
  std::mutex mutexes_[kKinds];
};

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

// Ends a transfer under way once a stop is requested (libcurl asks at least
// about once a second, and at every piece of data).
int OnProgress(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) { return StopRequested() ? 1 : 0; }

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

// The easy handle of the calling thread, with every option back at its
// default. Making a handle costs more than a loopback exchange, so each thread
// keeps one for all of its exchanges; nothing of one exchange's options
// reaches the next.
CURL* ThreadHandle() {
  struct Holder {
    CURL* handle = nullptr;
    ~Holder() {
      if (handle != nullptr) curl_easy_cleanup(handle);
    }
  };
  thread_local Holder holder;
  if (holder.handle == nullptr) {
    holder.handle = curl_easy_init();
  } else {
    curl_easy_reset(holder.handle);
  }
  return holder.handle;
}

Outcome Perform(const RequestSpec& request, CURLSH* share) {
  PrepareLibraries();
  Outcome outcome;
  CURL* curl = ThreadHandle();
  if (curl == nullptr) return outcome;

  const std::string url = UrlForCurl(request.url);
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
  // No redirect is followed, for a form or a page: libcurl would send a form
  // (key, secret and session key in it) again to whatever host a 307 or 308
  // names, and no platform page needs a redirect. A redirect answer is the
  // reply, as any other status is.
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_POSTREDIR, 0L);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &headers);
  // The whole exchange, connection included, ends at the caller's wait
  // limit: no exchange outlives the wait that started it.
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(request.limitMs));
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.limitMs));
  if (!request.proxy.empty()) {
    curl_easy_setopt(curl, CURLOPT_PROXY, request.proxy.c_str());
    if (!request.proxyUser.empty()) {
      curl_easy_setopt(curl, CURLOPT_PROXYUSERNAME, request.proxyUser.c_str());
      curl_easy_setopt(curl, CURLOPT_PROXYPASSWORD, request.proxyPassword.c_str());
      curl_easy_setopt(curl, CURLOPT_PROXYAUTH, CURLAUTH_ANY);
    }
  }
  curl_easy_setopt(curl, CURLOPT_USERNAME, kOpenCredential);
  curl_easy_setopt(curl, CURLOPT_PASSWORD, kOpenCredential);
  curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_ANY);
  if (!request.referrer.empty()) curl_easy_setopt(curl, CURLOPT_REFERER, request.referrer.c_str());
  if (request.post) {
    curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
    requestHeaders = curl_slist_append(requestHeaders, "Content-Type: application/x-www-form-urlencoded");
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
  } else {
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    if (share != nullptr) curl_easy_setopt(curl, CURLOPT_SHARE, share);
  }
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, requestHeaders);

  const CURLcode result = curl_easy_perform(curl);
  // The handle keeps pointers to these; none of them may outlive this call.
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, nullptr);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, nullptr);
  // The open connections stay with the share; the thread's handle lets go of
  // it, so that the share can go with its transport.
  if (share != nullptr) curl_easy_setopt(curl, CURLOPT_SHARE, nullptr);
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
void Work(const std::shared_ptr<Exchange>& exchange, long long limitMs, CURLSH* share) {
  RequestSpec request;
  bool valid = false;
  {
    std::lock_guard<std::mutex> lock(exchange->mutex);
    auto& b = exchange->buffer;
    if (b.size() == kRequestItems && b[0] == kRequestMarker) {
      request.url = std::move(b[1]);
      request.post = b[2] == "POST";
      request.proxy = std::move(b[3]);
      request.proxyUser = std::move(b[4]);
      request.proxyPassword = std::move(b[5]);
      request.referrer = std::move(b[6]);
      request.body = std::move(b[7]);
      request.limitMs = limitMs;
      valid = true;
    }
    b.clear();
  }
  Outcome outcome;
  if (valid) outcome = Perform(request, share);

  std::lock_guard<std::mutex> lock(exchange->mutex);
  if (!exchange->abandoned && outcome.ok && !outcome.body.empty()) {
    exchange->buffer = {std::string(kReplyMarker), std::move(outcome.headers), std::move(outcome.body)};
  }
  exchange->finished = true;
  exchange->ended.notify_all();
}

}  // namespace

// Worker threads. Each exchange runs on a worker thread of its own; a worker
// that has finished stays ready for the next exchange for a few seconds, so
// that a run of requests (the pages of a download, the ratings of many orders)
// does not pay for a new thread each time. A worker carries nothing from one
// exchange to the next but its libcurl handle, which is reset before each use
// (and, for GETs, the open connections): every exchange has its own buffer.
class Transport : public std::enable_shared_from_this<Transport> {
 public:
  CURLSH* Share() const { return share_.Handle(); }

  // Runs `job` on an idle worker, or on a new thread; false when no thread
  // could be had.
  bool Run(std::function<void()> job) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (idle_ > 0) {
        --idle_;
        jobs_.push_back(std::move(job));
        queued_.store(true, std::memory_order_release);
        ready_.notify_one();
        return true;
      }
    }
    try {
      // The worker holds the transport until it ends.
      std::thread([self = shared_from_this(), first = std::move(job)]() mutable { self->Serve(std::move(first)); })
          .detach();
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
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ++idle_;
      }
      // A caller that sends request after request hands the next one over
      // within microseconds; catch it before going to sleep.
      PollBriefly([this] { return queued_.load(std::memory_order_acquire); }, kHandOffPoll);
      std::unique_lock<std::mutex> lock(mutex_);
      if (!ready_.wait_for(lock, kLinger, [this] { return !jobs_.empty(); })) {
        --idle_;
        return;
      }
      job = std::move(jobs_.front());
      jobs_.pop_front();
      queued_.store(!jobs_.empty(), std::memory_order_release);
    }
  }

  ConnectionShare share_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> jobs_;
  std::atomic<bool> queued_{false};  // jobs_ is not empty (a hint for the poll)
  int idle_ = 0;  // waiting workers not yet handed a job
};

std::shared_ptr<Transport> MakeTransport() { return std::make_shared<Transport>(); }

namespace {

// The caller's wait, in slices so that a requested stop ends it. Callers are
// workers (the run's and the loader's) and the runner's one-shot commands;
// the UI thread never waits here.
bool WaitPlainly(Exchange& exchange) {
  if (PollBriefly([&] { return exchange.finished.load(); }, kHandOffPoll)) return true;
  const Clock::time_point end = exchange.started + exchange.limit + kReportGrace;
  std::unique_lock<std::mutex> lock(exchange.mutex);
  while (!exchange.finished && !StopRequested()) {
    const Clock::time_point now = Clock::now();
    if (now >= end) break;
    exchange.ended.wait_until(lock, std::min(end, now + kStopPollSlice));
  }
  return exchange.finished;
}

std::string NormaliseUrl(const std::string& url) {
  if (url.compare(0, 7, "http://") == 0 || url.compare(0, 8, "https://") == 0) return url;
  return "http://" + url;
}

}  // namespace

WebRequest WebRequest::Get(std::string url) {
  WebRequest request;
  request.url = std::move(url);
  return request;
}

WebRequest WebRequest::Post(std::string url, std::string form) {
  WebRequest request;
  request.url = std::move(url);
  request.method = "POST";
  request.body = std::move(form);
  return request;
}

WebRequest& WebRequest::timeout(int seconds) {
  timeoutSeconds = seconds;
  return *this;
}

WebRequest& WebRequest::viaProxy(std::string address, std::string user, std::string password) {
  proxy = std::move(address);
  proxyUser = std::move(user);
  proxyPassword = std::move(password);
  return *this;
}

WebRequest& WebRequest::withReferrer(std::string page) {
  referrer = std::move(page);
  return *this;
}

WebRequest& WebRequest::withHeaders() {
  wantHeaders = true;
  return *this;
}

PendingRequest start_web_request(const WebRequest& request) {
  // Nothing new goes out once the program is stopping.
  if (StopRequested()) return PendingRequest();
  const bool post = EqualsNoCase(request.method, "POST");
  const long long seconds = request.timeoutSeconds > 0 ? request.timeoutSeconds : kDefaultTimeoutSeconds;

  auto exchange = std::make_shared<Exchange>();
  exchange->buffer = {std::string(kRequestMarker), NormaliseUrl(request.url), post ? "POST" : "GET",
                      request.proxy, request.proxyUser, request.proxyPassword, request.referrer,
                      post ? request.body : std::string()};
  exchange->wantHeaders = request.wantHeaders;
  exchange->limit = milliseconds{seconds * 1000};
  exchange->started = Clock::now();
  const long long limitMs = exchange->limit.count();
  const std::shared_ptr<Transport> transport = request.transport ? request.transport : MakeTransport();
  if (!transport->Run([exchange, limitMs, share = transport->Share()] { Work(exchange, limitMs, share); }))
    return PendingRequest();
  return PendingRequest(std::move(exchange));
}

PendingRequest::PendingRequest(std::shared_ptr<WebExchange> exchange) : exchange_(std::move(exchange)) {}
PendingRequest::PendingRequest(PendingRequest&&) noexcept = default;

PendingRequest& PendingRequest::operator=(PendingRequest&& other) noexcept {
  if (this != &other) {
    Abandon();
    exchange_ = std::move(other.exchange_);
  }
  return *this;
}

PendingRequest::~PendingRequest() { Abandon(); }

void PendingRequest::Abandon() {
  if (exchange_ == nullptr) return;
  // The request still goes out as sent; only its reply is never read.
  std::lock_guard<std::mutex> lock(exchange_->mutex);
  exchange_->abandoned = true;
}

namespace {

// Waits for the exchange and takes its reply.
WebReply TakeReply(std::shared_ptr<Exchange> exchange) {
  WebReply reply;
  if (exchange == nullptr) return reply;
  const bool finished = WaitPlainly(*exchange);

  std::lock_guard<std::mutex> lock(exchange->mutex);
  if (!finished) {
    // Time-out or stop: whatever the worker gets later is never read, and it
    // no longer writes the reply record.
    exchange->abandoned = true;
  } else if (exchange->buffer.size() == 3 && exchange->buffer[0] == kReplyMarker) {
    if (exchange->wantHeaders) reply.headers = std::move(exchange->buffer[1]);
    reply.body = std::move(exchange->buffer[2]);
    reply.arrived = true;
  }
  exchange->buffer.clear();
  return reply;
}

}  // namespace

WebReply PendingRequest::Take() {
  std::shared_ptr<Exchange> exchange = std::move(exchange_);
  exchange_ = nullptr;
  return TakeReply(std::move(exchange));
}

WebReply web_request(const WebRequest& request) { return start_web_request(request).Take(); }

std::string web_get_simple(const std::string& url) {
  // A worker does the exchange so that the wait can end on a stop.
  PendingRequest pending = start_web_request(WebRequest::Get(url));
  return TakeReply(std::move(pending.exchange_)).body;
}

}  // namespace qm
