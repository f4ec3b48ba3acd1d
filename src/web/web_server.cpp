#include "web/web_server.h"

#include <httplib.h>
#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "util/event_loop.h"
#include "web/page_files.h"
#include "web/web_desk.h"
#include "web/web_password.h"

namespace qm {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kCookie = "qm_session";
constexpr auto kSessionIdle = std::chrono::hours(12);
constexpr std::size_t kMostSessions = 16;
// How long a request waits for the runner's thread.
constexpr auto kCallLimit = std::chrono::seconds(20);
constexpr int kLongestWaitSeconds = 300;
constexpr std::size_t kLargestBody = 256 * 1024;

std::string RandomHex(int bytes) {
  std::vector<unsigned char> raw(static_cast<std::size_t>(bytes));
  if (RAND_bytes(raw.data(), bytes) != 1) return {};
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : raw) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

bool SameSecret(const std::string& a, const std::string& b) {
  return !a.empty() && a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// "name:port" split at the port's colon ("[::1]:8080" keeps its brackets).
void SplitHost(const std::string& host, std::string* name, std::string* port) {
  const std::size_t colon = host.rfind(':');
  const std::size_t bracket = host.rfind(']');
  if (colon == std::string::npos || (bracket != std::string::npos && colon < bracket)) {
    *name = host;
    port->clear();
    return;
  }
  *name = host.substr(0, colon);
  *port = host.substr(colon + 1);
}

std::string Json(bool ok, const std::string& message) {
  std::string escaped;
  for (char c : message) {
    if (c == '"' || c == '\\') escaped += '\\';
    if (static_cast<unsigned char>(c) < 0x20) continue;
    escaped += c;
  }
  return std::string("{\"ok\":") + (ok ? "true" : "false") + ",\"message\":\"" + escaped + "\"}";
}

}  // namespace

bool ParseWebAddress(const std::string& text, std::string* address, int* port) {
  std::string host = "127.0.0.1", portText = text;
  if (const std::size_t colon = text.rfind(':'); colon != std::string::npos) {
    host = text.substr(0, colon);
    portText = text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    if (host.empty()) host = "127.0.0.1";
  }
  if (portText.empty() || portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const int p = std::stoi(portText);
  if (p > 65535 || host.find_first_of(" /[]") != std::string::npos) return false;
  *address = host;
  *port = p;
  return true;
}

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  std::size_t start = 0;
  while (start <= text.size()) {
    // A comma, ASCII or full-width ("，", three bytes in UTF-8).
    const std::size_t ascii = text.find(',', start);
    const std::size_t wide = text.find("，", start);
    const std::size_t end = std::min({ascii, wide, text.size()});
    std::string item = text.substr(start, end - start);
    item.erase(0, item.find_first_not_of(" \t"));
    item.erase(item.find_last_not_of(" \t") + 1);
    if (!item.empty()) items.push_back(item);
    start = end + (end == wide ? 3 : 1);
  }
  return items;
}

struct WebServer::Impl {
  // What the queued calls share with the server, so that a call that runs
  // after Stop finds the server closed rather than gone.
  struct Shared {
    std::mutex mutex;
    std::condition_variable done;
    bool closing = false;
  };
  struct Answer {
    bool done = false;
    std::string text;
  };
  struct Session {
    std::string csrf;
    Clock::time_point used;
  };

  Impl(WebDesk& d, EventLoop& l) : desk(d), loop(l), shared(std::make_shared<Shared>()) {}

  // Runs `work` on the runner's thread and waits for its reply; none when
  // the run did not answer in time or is ending.
  std::optional<std::string> Call(std::function<void(const WebDesk::Reply&)> work) {
    auto answer = std::make_shared<Answer>();
    std::shared_ptr<Shared> s = shared;
    loop.Post([s, answer, work = std::move(work)] {
      {
        std::lock_guard<std::mutex> lock(s->mutex);
        if (s->closing) return;
      }
      work([s, answer](const std::string& text) {
        std::lock_guard<std::mutex> lock(s->mutex);
        if (answer->done) return;
        answer->done = true;
        answer->text = text;
        s->done.notify_all();
      });
    });
    std::unique_lock<std::mutex> lock(s->mutex);
    s->done.wait_for(lock, kCallLimit, [&] { return answer->done || s->closing; });
    if (!answer->done) return std::nullopt;
    return answer->text;
  }

  std::optional<std::string> Read(std::function<std::string(WebDesk&)> look) {
    WebDesk* d = &desk;
    return Call([d, look = std::move(look)](const WebDesk::Reply& reply) { reply(look(*d)); });
  }

  bool HostAllowed(const httplib::Request& req) const {
    if (!req.has_header("Host")) return false;
    std::string name, port;
    SplitHost(Lower(req.get_header_value("Host")), &name, &port);
    const std::string own = std::to_string(boundPort);
    if (port == own) {
      if (name == Lower(options.address) || name == "[" + Lower(options.address) + "]") return true;
      if (loopback && (name == "localhost" || name == "127.0.0.1" || name == "[::1]")) return true;
    }
    for (const std::string& allowed : options.hosts) {
      std::string aName, aPort;
      SplitHost(Lower(allowed), &aName, &aPort);
      if (aName == name && (aPort.empty() || aPort == port)) return true;
    }
    return false;
  }

  // A change from another site's page names that site as its origin.
  bool OriginAllowed(const httplib::Request& req) const {
    if (!req.has_header("Origin")) return true;
    const std::string origin = req.get_header_value("Origin");
    const std::size_t scheme = origin.find("://");
    if (scheme == std::string::npos) return false;
    httplib::Request asHost;
    asHost.headers.emplace("Host", origin.substr(scheme + 3));
    return HostAllowed(asHost);
  }

  bool BehindHttps(const httplib::Request& req) const {
    if (Lower(req.get_header_value("X-Forwarded-Proto")) != "https") return false;
    return std::find(options.proxies.begin(), options.proxies.end(), req.remote_addr) != options.proxies.end();
  }

  // The session cookie's token; empty when there is none.
  static std::string TokenOf(const httplib::Request& req) {
    const std::string cookies = req.get_header_value("Cookie");
    const std::string key = std::string(kCookie) + "=";
    std::size_t start = 0;
    while (start < cookies.size()) {
      std::size_t end = cookies.find(';', start);
      if (end == std::string::npos) end = cookies.size();
      std::string part = cookies.substr(start, end - start);
      part.erase(0, part.find_first_not_of(' '));
      if (part.rfind(key, 0) == 0) return part.substr(key.size());
      start = end + 1;
    }
    return {};
  }

  // The CSRF token of the request's session, which is refreshed; none when
  // it has no session.
  std::optional<std::string> SessionOf(const httplib::Request& req) {
    const std::string token = TokenOf(req);
    if (token.empty()) return std::nullopt;
    std::lock_guard<std::mutex> lock(sessionMutex);
    const auto now = Clock::now();
    for (auto it = sessions.begin(); it != sessions.end();) {
      it = now - it->second.used > kSessionIdle ? sessions.erase(it) : std::next(it);
    }
    const auto it = sessions.find(token);
    if (it == sessions.end() || !SameSecret(it->first, token)) return std::nullopt;
    it->second.used = now;
    return it->second.csrf;
  }

  std::string NewSession() {
    const std::string token = RandomHex(32);
    const std::string csrf = RandomHex(32);
    if (token.empty() || csrf.empty()) return {};
    std::lock_guard<std::mutex> lock(sessionMutex);
    if (sessions.size() >= kMostSessions) {
      auto oldest = std::min_element(sessions.begin(), sessions.end(),
                                     [](const auto& a, const auto& b) { return a.second.used < b.second.used; });
      sessions.erase(oldest);
    }
    sessions[token] = {csrf, Clock::now()};
    return token;
  }

  void Login(const httplib::Request& req, httplib::Response& res) {
    {
      std::lock_guard<std::mutex> lock(loginMutex);
      const auto now = Clock::now();
      if (now < loginOpen) {
        const auto left = std::chrono::duration_cast<std::chrono::seconds>(loginOpen - now).count() + 1;
        res.status = 429;
        res.set_header("Retry-After", std::to_string(left));
        res.set_content(Json(false, "密码错误次数过多，请 " + std::to_string(left) + " 秒后再试。"), "application/json");
        return;
      }
      // One check at a time: a slow hash per guess, never several at once.
      if (checking) {
        res.status = 429;
        res.set_content(Json(false, "请稍后再试。"), "application/json");
        return;
      }
      checking = true;
    }
    const std::string password = req.has_param("password") ? req.get_param_value("password") : std::string();
    const bool ok = !password.empty() && password.size() <= 1024 && WebPasswordMatches(password, options.passwordHash);
    std::lock_guard<std::mutex> lock(loginMutex);
    checking = false;
    if (!ok) {
      ++failures;
      const int wait = std::min(kLongestWaitSeconds, 1 << std::min(failures - 1, 9));
      loginOpen = Clock::now() + std::chrono::seconds(wait);
      res.status = 403;
      res.set_content(Json(false, "密码不对。请 " + std::to_string(wait) + " 秒后再试。"), "application/json");
      return;
    }
    failures = 0;
    const std::string token = NewSession();
    if (token.empty()) {
      res.status = 500;
      res.set_content(Json(false, "无法建立会话。"), "application/json");
      return;
    }
    res.set_header("Set-Cookie", std::string(kCookie) + "=" + token + "; Path=/; HttpOnly; SameSite=Strict" +
                                     (BehindHttps(req) ? "; Secure" : ""));
    res.set_content(Json(true, ""), "application/json");
  }

  void Routes() {
    server.set_default_headers({
        {"X-Frame-Options", "DENY"},
        {"Content-Security-Policy",
         "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; connect-src 'self'; "
         "form-action 'self'; base-uri 'none'; frame-ancestors 'none'"},
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
        {"Cache-Control", "no-store"},
    });
    server.set_payload_max_length(kLargestBody);
    server.set_keep_alive_timeout(2);
    server.set_read_timeout(10, 0);
    server.set_write_timeout(10, 0);
    server.new_task_queue = [] { return new httplib::ThreadPool(4); };
    server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
      if (!HostAllowed(req)) {
        res.status = 421;
        res.set_content("This address is not one the page answers to.\n", "text/plain; charset=utf-8");
        return httplib::Server::HandlerResponse::Handled;
      }
      if (req.method != "GET" && req.method != "HEAD" && !OriginAllowed(req)) {
        res.status = 403;
        res.set_content(Json(false, "来源不对。"), "application/json");
        return httplib::Server::HandlerResponse::Handled;
      }
      return httplib::Server::HandlerResponse::Unhandled;
    });
    for (const PageFile& file : kPageFiles) {
      server.Get(file.path, [&file](const httplib::Request&, httplib::Response& res) {
        res.set_content(file.body.data(), file.body.size(), file.type);
      });
    }
    server.Post("/api/login", [this](const httplib::Request& req, httplib::Response& res) { Login(req, res); });
    server.Post("/api/logout", [this](const httplib::Request& req, httplib::Response& res) {
      if (!Changing(req, res)) return;
      {
        std::lock_guard<std::mutex> lock(sessionMutex);
        sessions.erase(TokenOf(req));
      }
      res.set_header("Set-Cookie", std::string(kCookie) + "=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0");
      res.set_content(Json(true, ""), "application/json");
    });
    server.Get("/api/state", [this](const httplib::Request& req, httplib::Response& res) {
      const std::optional<std::string> csrf = Signed(req, res);
      if (!csrf) return;
      const auto state = Read([](WebDesk& d) { return d.State(); });
      if (!state) return Unanswered(res);
      const std::string tag = "\"" + std::to_string(std::hash<std::string>{}(*state)) + "\"";
      res.set_header("ETag", tag);
      if (req.get_header_value("If-None-Match") == tag) {
        res.status = 304;
        return;
      }
      res.set_content("{\"csrf\":\"" + *csrf + "\",\"state\":" + *state + "}", "application/json");
    });
    server.Post(R"(/api/act/([a-z-]+))", [this](const httplib::Request& req, httplib::Response& res) {
      if (!Changing(req, res)) return;
      WebDesk* d = &desk;
      const std::string action = req.matches[1];
      const std::string body = req.body;
      const auto reply = Call([d, action, body](const WebDesk::Reply& r) { d->Act(action, body, r); });
      if (!reply) return Unanswered(res);
      res.set_content(*reply, "application/json");
    });
    server.Get("/api/log", [this](const httplib::Request& req, httplib::Response& res) {
      if (!Signed(req, res)) return;
      const std::string filter = req.get_param_value("filter");
      int limit = 500;
      if (const std::string l = req.get_param_value("limit"); !l.empty() && l.size() < 7 &&
                                                             l.find_first_not_of("0123456789") == std::string::npos) {
        limit = std::clamp(std::stoi(l), 1, 100000);
      }
      const auto log = Read([filter, limit](WebDesk& d) { return d.Log(filter, limit); });
      if (!log) return Unanswered(res);
      res.set_content(*log, "application/json");
    });
    server.Get("/api/log.csv", [this](const httplib::Request& req, httplib::Response& res) {
      if (!Signed(req, res)) return;
      const std::string filter = req.get_param_value("filter");
      const auto csv = Read([filter](WebDesk& d) { return d.LogCsv(filter); });
      if (!csv) return Unanswered(res);
      res.set_header("Content-Disposition",
                     "attachment; filename=\"rating-log.csv\"; filename*=UTF-8''%E8%AF%84%E4%BB%B7%E8%AE%B0%E5%BD%95.csv");
      res.set_content(*csv, "text/csv; charset=utf-8");
    });
    server.Get("/api/alert-settings", [this](const httplib::Request& req, httplib::Response& res) {
      if (!Signed(req, res)) return;
      const auto settings = Read([](WebDesk& d) { return d.AlertSettingsJson(); });
      if (!settings) return Unanswered(res);
      res.set_content(*settings, "application/json");
    });
    // The statistics read the rating log alone: no request to the platform.
    server.Get("/api/stats", [this](const httplib::Request& req, httplib::Response& res) {
      if (!Signed(req, res)) return;
      const int days = DaysOf(req);
      const auto stats = Read([days](WebDesk& d) { return d.Stats(days); });
      if (!stats) return Unanswered(res);
      res.set_content(*stats, "application/json");
    });
    server.Get("/api/stats.csv", [this](const httplib::Request& req, httplib::Response& res) {
      if (!Signed(req, res)) return;
      const int days = DaysOf(req);
      const auto csv = Read([days](WebDesk& d) { return d.StatsCsv(days); });
      if (!csv) return Unanswered(res);
      res.set_header("Content-Disposition",
                     "attachment; filename=\"stats.csv\"; filename*=UTF-8''%E7%BB%9F%E8%AE%A1.csv");
      res.set_content(*csv, "text/csv; charset=utf-8");
    });
  }

  // The statistics' range: the last 90 days when asked for, else the last 30.
  static int DaysOf(const httplib::Request& req) { return req.get_param_value("days") == "90" ? 90 : 30; }

  // The request's session; null, with the answer set, when it has none.
  std::optional<std::string> Signed(const httplib::Request& req, httplib::Response& res) {
    std::optional<std::string> session = SessionOf(req);
    if (!session) {
      res.status = 401;
      res.set_content(Json(false, "请先登录。"), "application/json");
    }
    return session;
  }

  // A change: a session and its CSRF token.
  bool Changing(const httplib::Request& req, httplib::Response& res) {
    const std::optional<std::string> csrf = Signed(req, res);
    if (!csrf) return false;
    if (!SameSecret(*csrf, req.get_header_value("X-CSRF-Token"))) {
      res.status = 403;
      res.set_content(Json(false, "页面已过期，请刷新页面。"), "application/json");
      return false;
    }
    return true;
  }

  static void Unanswered(httplib::Response& res) {
    res.status = 503;
    res.set_content(Json(false, "程序暂时没有回应，请稍后再试。"), "application/json");
  }

  WebDesk& desk;
  EventLoop& loop;
  std::shared_ptr<Shared> shared;
  WebOptions options;
  int boundPort = 0;
  bool loopback = false;
  httplib::Server server;
  std::thread thread;
  std::mutex sessionMutex;
  std::map<std::string, Session> sessions;
  std::mutex loginMutex;
  int failures = 0;
  bool checking = false;
  Clock::time_point loginOpen{};
};

WebServer::WebServer(WebDesk& desk, EventLoop& loop) : impl_(std::make_unique<Impl>(desk, loop)) {}

WebServer::~WebServer() { Stop(); }

int WebServer::Start(const WebOptions& options, std::string* error) {
  Impl& i = *impl_;
  if (options.passwordHash.empty()) {
    if (error) *error = "no web page password is set";
    return 0;
  }
  i.options = options;
  const std::string a = Lower(options.address);
  i.loopback = a == "127.0.0.1" || a == "::1" || a == "localhost";
  i.Routes();
  if (options.port == 0) {
    i.boundPort = i.server.bind_to_any_port(options.address);
  } else if (i.server.bind_to_port(options.address, options.port)) {
    i.boundPort = options.port;
  }
  if (i.boundPort <= 0) {
    if (error) *error = "cannot listen on " + options.address + ":" + std::to_string(options.port);
    i.boundPort = 0;
    return 0;
  }
  i.thread = std::thread([&i] { i.server.listen_after_bind(); });
  return i.boundPort;
}

void WebServer::Stop() {
  Impl& i = *impl_;
  {
    std::lock_guard<std::mutex> lock(i.shared->mutex);
    i.shared->closing = true;
    i.shared->done.notify_all();
  }
  if (i.thread.joinable()) {
    i.server.stop();
    i.thread.join();
  }
}

}  // namespace qm
