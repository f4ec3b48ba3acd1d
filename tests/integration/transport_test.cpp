// The HTTP transport against a small server on loopback that shows exactly
// what arrived (request line, headers, body): the content type, the method,
// the referrer, the proxy and its credentials, empty and error replies, and
// the time-out rules with a busy and an idle event loop.
#include "platform/transport.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "util/event_loop.h"
#include "util/event_pump.h"
#include "util/stop.h"

namespace qm {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// What the server saw of the last request.
struct Seen {
  int count = 0;
  int remotePort = 0;  // tells connections apart
  std::string method, target, body, contentType, referer, proxyAuth, authorization;
};

class LocalServer {
 public:
  LocalServer() {
    server_.set_tcp_nodelay(true);
    // The transport keeps GET connections open; the server's stop waits for
    // them to go idle this long.
    server_.set_keep_alive_timeout(1);
    auto record = [this](const httplib::Request& req) {
      std::lock_guard<std::mutex> lock(mutex_);
      ++seen_.count;
      seen_.remotePort = req.remote_port;
      seen_.method = req.method;
      seen_.target = req.target;
      seen_.body = req.body;
      seen_.contentType = req.get_header_value("Content-Type");
      seen_.referer = req.get_header_value("Referer");
      seen_.proxyAuth = req.get_header_value("Proxy-Authorization");
      seen_.authorization = req.get_header_value("Authorization");
    };
    auto echo = [record](const httplib::Request& req, httplib::Response& res) {
      record(req);
      res.set_header("X-Quill", "echo");
      res.set_content(req.method + " " + req.target + "\n" + req.body, "text/plain; charset=utf-8");
    };
    server_.Get("/echo", echo);
    server_.Post("/echo", echo);
    server_.Get("/empty", [record](const httplib::Request& req, httplib::Response& res) {
      record(req);
      res.set_header("X-Quill", "empty");
      res.status = 200;
    });
    server_.Get("/error", [record](const httplib::Request& req, httplib::Response& res) {
      record(req);
      res.status = 500;
      res.set_content("<error_response><code>27</code></error_response>", "text/xml");
    });
    // Answers after `stall` milliseconds (or when released), counting the
    // replies it actually sent.
    server_.Get("/stall", [this, record](const httplib::Request& req, httplib::Response& res) {
      record(req);
      std::unique_lock<std::mutex> lock(mutex_);
      stallRelease_.wait_for(lock, std::chrono::milliseconds(stallMs_), [this] { return released_; });
      ++stalledAnswers_;
      res.set_content("late", "text/plain");
    });
    // Answers with the redirect ?status= to ?to=.
    auto redirect = [record](const httplib::Request& req, httplib::Response& res) {
      record(req);
      res.status = std::stoi(req.get_param_value("status"));
      res.set_header("Location", req.get_param_value("to"));
      res.set_content("moved", "text/plain");
    };
    server_.Get("/redirect", redirect);
    server_.Post("/redirect", redirect);
    // The body one byte every 300 ms.
    server_.Get("/trickle", [record](const httplib::Request& req, httplib::Response& res) {
      record(req);
      res.set_content_provider(200, "text/plain", [](std::size_t, std::size_t, httplib::DataSink& sink) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return sink.write("x", 1);
      });
    });
    // Everything else arrives in proxy form ("GET http://host/path"): ask for
    // credentials once, then answer as the proxy.
    server_.Get(".*", [this, record](const httplib::Request& req, httplib::Response& res) {
      record(req);
      if (!proxyUser_.empty() && req.get_header_value("Proxy-Authorization").empty()) {
        res.status = 407;
        res.set_header("Proxy-Authenticate", "Basic realm=\"quillmere-test\"");
        res.set_content("auth first", "text/plain");
        return;
      }
      res.set_content("proxied " + req.target, "text/plain");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (port_ > 0 && !server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~LocalServer() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      released_ = true;
    }
    stallRelease_.notify_all();
    server_.stop();
    thread_.join();
  }

  std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }
  Seen Last() {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
  }
  int StalledAnswers() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stalledAnswers_;
  }
  void SetStall(int ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    stallMs_ = ms;
  }
  void RequireProxyUser(const std::string& user) { proxyUser_ = user; }

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = -1;
  std::mutex mutex_;
  std::condition_variable stallRelease_;
  bool released_ = false;
  int stallMs_ = 4000;
  int stalledAnswers_ = 0;
  Seen seen_;
  std::string proxyUser_;
};

// A server that takes one connection, reads the request and never answers;
// it notes how long the client kept the connection open.
class SilentServer {
 public:
  SilentServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener_, 4) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
      return;
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~SilentServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) ::close(listener_);
  }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }
  // Seconds from accepting until the client closed; < 0 while it has not.
  double ClientGoneAfter() const { return goneAfter_.load(); }

 private:
  void Serve() {
    pollfd waitAccept{listener_, POLLIN, 0};
    while (!stop_ && ::poll(&waitAccept, 1, 50) == 0) {
    }
    if (stop_) return;
    const int fd = ::accept(listener_, nullptr, nullptr);
    if (fd < 0) return;
    const auto accepted = Clock::now();
    char buffer[4096];
    while (!stop_) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
      if (got <= 0) {
        goneAfter_ = SecondsSince(accepted);
        break;
      }
    }
    ::close(fd);
  }

  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<double> goneAfter_{-1};
};

// Each case waits on the UI thread through an in-memory event loop.
class Transport : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GT(server_.Base().size(), std::string("http://127.0.0.1:").size());
  }
  LocalServer server_;
  EventLoop loop_;
};

TEST_F(Transport, PostInAnyCaseSendsTheFormContentType) {
  for (const std::string method : {"POST", "post", "PoSt"}) {
    const WebReply reply = web_request({.url = server_.Base() + "/echo", .method = method, .body = "a=1&b=%20"});
    EXPECT_EQ(reply.body, "POST /echo\na=1&b=%20") << method;
    EXPECT_TRUE(reply.arrived);
    const Seen seen = server_.Last();
    EXPECT_EQ(seen.method, "POST");
    EXPECT_EQ(seen.contentType, "application/x-www-form-urlencoded");
    EXPECT_EQ(seen.body, "a=1&b=%20");
    EXPECT_TRUE(seen.authorization.empty()) << "credentials are offered only on a challenge";
  }
}

TEST_F(Transport, AnyOtherMethodIsAGetWithoutContentTypeOrBody) {
  for (const std::string method : {"GET", "PUT", "", "get"}) {
    const WebReply reply = web_request({.url = server_.Base() + "/echo", .method = method, .body = "ignored=1"});
    EXPECT_EQ(reply.body, "GET /echo\n") << "method '" << method << "'";
    const Seen seen = server_.Last();
    EXPECT_EQ(seen.method, "GET");
    EXPECT_TRUE(seen.contentType.empty());
    EXPECT_TRUE(seen.body.empty());
  }
}

TEST_F(Transport, SchemeIsAddedOnlyWhenMissing) {
  EXPECT_EQ(web_request(WebRequest::Get(server_.HostPort() + "/echo?x=1")).body, "GET /echo?x=1\n");
  EXPECT_EQ(server_.Last().count, 1);
  // "https://" stays: TLS against this plain server fails, and no HTTP request arrives.
  EXPECT_FALSE(web_request(WebRequest::Get("https://" + server_.HostPort() + "/echo").timeout(3)).arrived);
  EXPECT_EQ(server_.Last().count, 1);
}

TEST_F(Transport, SpaceInTheQueryGoesOutAsPercent20) {
  const WebReply reply = web_request(WebRequest::Get(server_.Base() + "/echo?timestamp=2014-09-19 09:05:03&v=2.0"));
  EXPECT_EQ(reply.body, "GET /echo?timestamp=2014-09-19%2009:05:03&v=2.0\n");
}

TEST_F(Transport, ReferrerIsSentOnlyWhenGiven) {
  web_request(WebRequest::Get(server_.Base() + "/echo").withReferrer("http://rate.example/myRate.htm"));
  EXPECT_EQ(server_.Last().referer, "http://rate.example/myRate.htm");
  web_request(WebRequest::Get(server_.Base() + "/echo"));
  EXPECT_TRUE(server_.Last().referer.empty());
}

TEST_F(Transport, HeadersAreHandedOverOnlyWhenWanted) {
  EXPECT_EQ(web_request(WebRequest::Get(server_.Base() + "/echo")).headers, "");
  const std::string headers = web_request(WebRequest::Get(server_.Base() + "/echo").withHeaders()).headers;
  EXPECT_NE(headers.find("X-Quill: echo\r\n"), std::string::npos) << headers;
  EXPECT_NE(headers.find("Content-Type: text/plain; charset=utf-8\r\n"), std::string::npos) << headers;
  EXPECT_EQ(headers.find("HTTP/1.1"), std::string::npos) << "no status line";
}

TEST_F(Transport, EmptyBodyIsNoReply) {
  const WebReply reply = web_request(WebRequest::Get(server_.Base() + "/empty").withHeaders());
  EXPECT_FALSE(reply.arrived);
  EXPECT_EQ(reply.body, "");
  EXPECT_EQ(reply.headers, "");
  EXPECT_EQ(server_.Last().target, "/empty");
}

TEST_F(Transport, ErrorStatusWithABodyIsStillTheBody) {
  const WebReply reply = web_request(WebRequest::Get(server_.Base() + "/error"));
  EXPECT_TRUE(reply.arrived);
  EXPECT_EQ(reply.body, "<error_response><code>27</code></error_response>");
}

TEST_F(Transport, RefusedConnectionGivesEmptyBytes) {
  // A port that was just free: bind, note, close (nothing listens there).
  int port = 0;
  {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length), 0);
    port = ntohs(addr.sin_port);
    ::close(fd);
  }
  ASSERT_GT(port, 0);
  const auto start = Clock::now();
  const WebReply reply = web_request(WebRequest::Get("http://127.0.0.1:" + std::to_string(port) + "/echo"));
  EXPECT_FALSE(reply.arrived);
  EXPECT_EQ(reply.body, "");
  EXPECT_EQ(web_get_simple("http://127.0.0.1:" + std::to_string(port) + "/echo"), "");
  EXPECT_LT(SecondsSince(start), 2.0) << "a refused connection is not waited out";
}

TEST_F(Transport, ProxyGetsTheWholeUrlAndTheCredentialsWhenAsked) {
  server_.RequireProxyUser("puser");
  const WebReply reply = web_request(
      WebRequest::Get("http://origin.quillmere.test/router/rest?x=1").viaProxy(server_.Base(), "puser", "ppass"));
  EXPECT_EQ(reply.body, "proxied http://origin.quillmere.test/router/rest?x=1");
  EXPECT_EQ(server_.Last().proxyAuth, "Basic cHVzZXI6cHBhc3M=");  // base64 of "puser:ppass"
}

TEST_F(Transport, ProxyWithoutUserSendsNoCredentials) {
  const WebReply reply = web_request(WebRequest::Get("origin.quillmere.test/a").viaProxy(server_.HostPort()));
  EXPECT_EQ(reply.body, "proxied http://origin.quillmere.test/a");
  EXPECT_TRUE(server_.Last().proxyAuth.empty());
}

TEST_F(Transport, StalledServerTimesOutAtTheLimitAndTheLateReplyIsNeverRead) {
  server_.SetStall(4000);
  const auto start = Clock::now();
  const WebReply reply = web_request(WebRequest::Get(server_.Base() + "/stall").timeout(3).withHeaders());
  const double waited = SecondsSince(start);
  EXPECT_FALSE(reply.arrived);
  EXPECT_EQ(reply.body, "");
  EXPECT_EQ(reply.headers, "");
  EXPECT_GE(waited, 2.9);
  EXPECT_LT(waited, 3.9);
  // The server still answers the abandoned request after the wait ended; the
  // next request gets its own reply and nothing of the old one.
  for (int i = 0; i < 300 && server_.StalledAnswers() == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(server_.StalledAnswers(), 1);
  const WebReply fresh = web_request(WebRequest::Get(server_.Base() + "/echo").withHeaders());
  EXPECT_EQ(fresh.body, "GET /echo\n");
  EXPECT_EQ(fresh.headers.find("late"), std::string::npos);
}

TEST_F(Transport, ExchangeEndsWithTheWaitAndLeavesNoConnectionOpen) {
  SilentServer silent;
  std::atomic<bool> stop{false};
  // A busy event loop as well: the limit restarts on every event.
  std::thread ticker([&] {
    while (!stop) {
      loop_.Post([] {});
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  const auto start = Clock::now();
  EXPECT_FALSE(web_request(WebRequest::Get(silent.Base() + "/router/rest?sign=X").timeout(2)).arrived);
  const double waited = SecondsSince(start);
  stop = true;
  ticker.join();
  EXPECT_LT(waited, 2.9);
  for (int i = 0; i < 200 && silent.ClientGoneAfter() < 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const double gone = silent.ClientGoneAfter();
  EXPECT_GT(gone, 1.5);
  EXPECT_LT(gone, 2.5) << "the connection closes when the wait ends, not later";
}

TEST_F(Transport, WorksFromAWorkerThreadAsFromTheCallingOne) {
  std::string fromWorker;
  std::thread worker([&] { fromWorker = web_request(WebRequest::Get(server_.Base() + "/echo?w=1")).body; });
  worker.join();
  EXPECT_EQ(fromWorker, "GET /echo?w=1\n");
  EXPECT_EQ(web_request(WebRequest::Get(server_.Base() + "/echo?w=2")).body, "GET /echo?w=2\n");
}

TEST_F(Transport, SimpleGetReturnsTheWholeBody) {
  EXPECT_EQ(web_get_simple(server_.Base() + "/echo?ts=2014-01-02 03:04:05"), "GET /echo?ts=2014-01-02%2003:04:05\n");
  EXPECT_EQ(server_.Last().method, "GET");
  EXPECT_EQ(web_get_simple(server_.Base() + "/empty"), "");
  EXPECT_EQ(web_get_simple(server_.Base() + "/error"), "<error_response><code>27</code></error_response>");
}

// A form (the rating form holds the secret and the session key) never goes
// on to the host a 307 or 308 names, and no page follows a redirect either:
// the redirect answer is the reply.
TEST_F(Transport, NoRedirectIsFollowed) {
  LocalServer other;
  const std::string to = other.Base() + "/echo";
  for (const char* status : {"307", "308"}) {
    const WebReply reply = web_request(
        WebRequest::Post(server_.Base() + "/redirect?status=" + status + "&to=" + to, "app_secret=S&session=K"));
    EXPECT_EQ(reply.body, "moved") << status;
  }
  EXPECT_EQ(web_request(WebRequest::Get(server_.Base() + "/redirect?status=302&to=" + to)).body, "moved");
  EXPECT_EQ(web_get_simple(server_.Base() + "/redirect?status=301&to=" + to), "moved");
  EXPECT_EQ(server_.Last().count, 4);
  EXPECT_EQ(other.Last().count, 0) << other.Last().method << " " << other.Last().body;
}

// The blocking GET ends ten seconds after its start however its reply
// trickles in, and at once on a stop, as the waits of web_request do; after
// the stop nothing goes out.
TEST_F(Transport, TrickledReplyAndStopEndTheWaits) {
  auto start = Clock::now();
  EXPECT_EQ(web_get_simple(server_.Base() + "/trickle"), "");
  EXPECT_GT(SecondsSince(start), 9.5);
  EXPECT_LT(SecondsSince(start), 11.5);

  server_.SetStall(4000);
  std::thread stopper([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    RequestStop();
  });
  PendingRequest pending = start_web_request(WebRequest::Get(server_.Base() + "/stall"));
  std::string simple;
  std::thread plain([&] { simple = web_get_simple(server_.Base() + "/trickle"); });
  start = Clock::now();
  EXPECT_FALSE(web_request(WebRequest::Get(server_.Base() + "/stall")).arrived);
  EXPECT_FALSE(pending.Take().arrived);
  plain.join();
  stopper.join();
  EXPECT_LT(SecondsSince(start), 0.6);
  EXPECT_EQ(simple, "");
  const int seen = server_.Last().count;
  EXPECT_FALSE(web_request(WebRequest::Post(server_.Base() + "/echo", "a=1")).arrived);
  EXPECT_EQ(server_.Last().count, seen) << "nothing is sent once stopping";
  ClearStopRequest();
}

// The GETs sent through one transport share its kept connection; a request
// sent through another, or through none, never uses it.
TEST_F(Transport, GetsKeepTheirConnectionAndPostsNeverShareOne) {
  const auto carrier = MakeTransport();
  auto portOf = [&](const std::string& method, std::shared_ptr<qm::Transport> through) {
    web_request({.url = server_.Base() + "/echo", .method = method, .body = "x=1", .transport = std::move(through)});
    return server_.Last().remotePort;
  };
  const int get = portOf("GET", carrier);
  EXPECT_EQ(portOf("GET", carrier), get) << "the second GET uses the first one's connection";
  const int post = portOf("POST", carrier);
  EXPECT_NE(post, get) << "a form never goes out on a kept connection";
  EXPECT_NE(portOf("POST", carrier), post) << "nor on the connection of an earlier form";
  EXPECT_EQ(portOf("GET", carrier), get) << "the forms left the GETs' connection alone";
  EXPECT_NE(portOf("GET", MakeTransport()), get) << "another program's transport has its own connections";
  EXPECT_NE(portOf("GET", nullptr), get) << "and a request without one, its own";
  EXPECT_EQ(portOf("GET", carrier), get);
}

TEST_F(Transport, PendingRequestGivesItsReplyWhenTaken) {
  PendingRequest first = start_web_request(WebRequest::Get(server_.Base() + "/echo?n=1").withHeaders());
  PendingRequest second = start_web_request(WebRequest::Post(server_.Base() + "/echo?n=2", "b=2"));
  const WebReply secondReply = second.Take();
  EXPECT_EQ(secondReply.body, "POST /echo?n=2\nb=2");
  EXPECT_EQ(secondReply.headers, "") << "headers only when wanted";
  const WebReply firstReply = first.Take();
  EXPECT_EQ(firstReply.body, "GET /echo?n=1\n");
  EXPECT_NE(firstReply.headers.find("X-Quill: echo\r\n"), std::string::npos) << firstReply.headers;
  EXPECT_FALSE(first.Valid());
  EXPECT_FALSE(first.Take().arrived) << "a reply is given once";
  EXPECT_FALSE(PendingRequest().Take().arrived);
}

TEST_F(Transport, PendingRequestCountsItsLimitFromTheStart) {
  server_.SetStall(4000);
  PendingRequest stalled = start_web_request(WebRequest::Get(server_.Base() + "/stall").timeout(2));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const auto taken = Clock::now();
  EXPECT_FALSE(stalled.Take().arrived);
  EXPECT_LT(SecondsSince(taken), 1.3) << "the wait ends two seconds after the start, not after the Take";
}

TEST_F(Transport, DroppedPendingRequestIsNeverRead) {
  server_.SetStall(200);
  {
    PendingRequest dropped = start_web_request(WebRequest::Get(server_.Base() + "/stall"));
    PendingRequest replaced = start_web_request(WebRequest::Get(server_.Base() + "/stall"));
    replaced = start_web_request(WebRequest::Get(server_.Base() + "/echo?after=1"));
    EXPECT_EQ(replaced.Take().body, "GET /echo?after=1\n");
  }
  // The abandoned workers finish on their own; the transport stays usable.
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_EQ(server_.StalledAnswers(), 2);
  EXPECT_EQ(web_request(WebRequest::Get(server_.Base() + "/echo?n=3")).body, "GET /echo?n=3\n");
}

}  // namespace
}  // namespace qm
