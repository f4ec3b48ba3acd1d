#pragma once
// Sending requests to the platform over HTTP (libcurl).
#include <memory>
#include <string>

namespace qm {

struct WebExchange;

// A web_request under way, split in two so that the caller can do other work
// while the reply travels. Take() waits exactly as web_request does (the limit
// counts from the start) and gives the body once; take it on the thread that
// should do the waiting. One that is dropped untaken is abandoned: its reply
// is never read.
class PendingRequest {
 public:
  PendingRequest() = default;  // nothing under way: Take() gives empty bytes
  explicit PendingRequest(std::shared_ptr<WebExchange> exchange);
  ~PendingRequest();
  PendingRequest(PendingRequest&&) noexcept;
  PendingRequest& operator=(PendingRequest&& other) noexcept;
  PendingRequest(const PendingRequest&) = delete;
  PendingRequest& operator=(const PendingRequest&) = delete;

  bool Valid() const { return exchange_ != nullptr; }
  std::string Take(std::string* response_headers = nullptr, bool want_headers = false);

 private:
  void Abandon();
  std::shared_ptr<WebExchange> exchange_;
};

// One HTTP exchange on a worker thread while the calling (UI) thread waits
// through the event pump, so the windows keep answering.
// - url without "http://" or "https://" gets "http://" in front;
// - method "POST" in any case is a POST with the form content type, anything
//   else a GET without content type;
// - timeout_seconds 0 means 10 seconds;
// - proxy, proxy user/password, referrer and body: empty when not wanted;
// - when want_headers is true and the reply had a body, *response_headers gets
//   the reply's header text.
// Returns the body bytes, or empty bytes on time-out or any failure. There is
// no status check: an error page with a body is a body.
std::string web_request(const std::string& url, const std::string& method = "GET",
                        const std::string& proxy = "", const std::string& proxy_user = "",
                        const std::string& proxy_password = "", const std::string& referrer = "",
                        const std::string& body = "", int timeout_seconds = 0,
                        std::string* response_headers = nullptr, bool want_headers = false);

// The first half of web_request: the exchange starts on a worker thread and
// the caller goes on at once.
PendingRequest start_web_request(const std::string& url, const std::string& method = "GET",
                                 const std::string& proxy = "", const std::string& proxy_user = "",
                                 const std::string& proxy_password = "", const std::string& referrer = "",
                                 const std::string& body = "", int timeout_seconds = 0);

// A blocking GET on the calling thread: the whole body, or empty bytes.
std::string web_get_simple(const std::string& url);

}  // namespace qm
