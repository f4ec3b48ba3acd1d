#pragma once
// Sending requests to the platform over HTTP (libcurl).
#include <memory>
#include <string>

namespace qm {

struct WebExchange;

// The worker threads that carry exchanges and the connections that GET
// exchanges leave open for the next GET to the same server. The program keeps
// one with what it knows of the platform (PlatformLink) and sends its
// requests through it; a request sent without one has a thread and
// connections of its own. Held by shared_ptr: its workers hold it too, so it
// lasts until the last exchange under way has ended.
class Transport;
std::shared_ptr<Transport> MakeTransport();

// One request as the caller states it. Built with the named setters, e.g.
//   WebRequest::Post(url, form).timeout(5)
// - url without "http://" or "https://" gets "http://" in front;
// - method "POST" in any case is a POST with the form content type, anything
//   else a GET without content type and without body;
// - timeoutSeconds 0 means 10 seconds;
// - proxy, proxy user/password and referrer: empty when not wanted;
// - wantHeaders: the reply carries the header text of the response.
struct WebRequest {
  std::string url;
  std::string method = "GET";
  std::string body;
  int timeoutSeconds = 0;
  std::string proxy, proxyUser, proxyPassword;
  std::string referrer;
  bool wantHeaders = false;
  std::shared_ptr<Transport> transport;  // none: an exchange of its own

  static WebRequest Get(std::string url);
  static WebRequest Post(std::string url, std::string form);
  WebRequest& timeout(int seconds);
  WebRequest& viaProxy(std::string address, std::string user = {}, std::string password = {});
  WebRequest& withReferrer(std::string page);
  WebRequest& withHeaders();
};

// No redirect is followed, for any request: a redirect answer is the reply.
//
// Once a stop is requested (util/stop.h) no request goes out, and a wait under
// way ends at once without a reply; its exchange is abandoned.
//
// What came back. `arrived` is true when a reply with a body came back within
// the limit; a time-out, any failure of the exchange and an empty body all
// give arrived false with empty body and headers (no page of the platform is
// empty, so an empty body says nothing). There is no status check: an error
// page with a body is a body. `headers` holds the response's header lines
// ("Name: value\r\n" each, no status line) only when they were wanted.
struct WebReply {
  std::string body;
  std::string headers;
  bool arrived = false;
};

// A web_request under way, split in two so that the caller can do other work
// while the reply travels. Take() waits exactly as web_request does (the limit
// counts from the start) and gives the reply once; take it on the thread that
// should do the waiting. One that is dropped untaken is abandoned: its reply
// is never read.
class PendingRequest {
 public:
  PendingRequest() = default;  // nothing under way: Take() gives no reply
  explicit PendingRequest(std::shared_ptr<WebExchange> exchange);
  ~PendingRequest();
  PendingRequest(PendingRequest&&) noexcept;
  PendingRequest& operator=(PendingRequest&& other) noexcept;
  PendingRequest(const PendingRequest&) = delete;
  PendingRequest& operator=(const PendingRequest&) = delete;

  bool Valid() const { return exchange_ != nullptr; }
  WebReply Take();

 private:
  friend std::string web_get_simple(const std::string& url);
  void Abandon();
  std::shared_ptr<WebExchange> exchange_;
};

// One HTTP exchange on a worker thread while the caller waits (runs no
// events): callers are the run's and the loader's workers, never the UI thread.
WebReply web_request(const WebRequest& request);

// The first half of web_request: the exchange starts on a worker thread and
// the caller goes on at once.
PendingRequest start_web_request(const WebRequest& request);

// A blocking GET: the calling thread waits without running events, for at
// most 10 seconds in all (a reply that trickles in cannot hold it longer).
// The whole body, or empty bytes.
std::string web_get_simple(const std::string& url);

}  // namespace qm
