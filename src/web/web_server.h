#pragma once
// The runner's web page (`quillmere-headless --web ADDRESS:PORT`), served
// with cpp-httplib on threads of its own. Every look at the run and every
// action is a queued call to the runner's thread (web_desk.h); the server's
// threads only wait for the answers. Who may use it: the holder of the
// password whose hash the seller's section keeps (web_password.h), through a
// session cookie (HttpOnly, SameSite=Strict, Secure behind an HTTPS proxy
// the seller named), with a CSRF token on every change, a check of the Host
// header, a growing wait after failed logins and no framing.
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace qm {

class EventLoop;
class WebDesk;

struct WebOptions {
  std::string address = "127.0.0.1";
  int port = 0;  // 0: any free port
  std::string passwordHash;
  // Names the Host header may also carry (a reverse proxy's), each with or
  // without ":port"; one without a port matches any.
  std::vector<std::string> hosts;
  // Addresses whose X-Forwarded-Proto is believed.
  std::vector<std::string> proxies{"127.0.0.1", "::1"};
};

// "ADDRESS:PORT", "[IPv6]:PORT", ":PORT" or "PORT" (the address is then
// 127.0.0.1). False for anything else.
bool ParseWebAddress(const std::string& text, std::string* address, int* port);
// A comma-separated setting as a list, blanks trimmed, empty items left out.
std::vector<std::string> SplitList(const std::string& text);

class WebServer {
 public:
  WebServer(WebDesk& desk, EventLoop& loop);
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Binds and starts serving; the port, or 0 with why in *error.
  int Start(const WebOptions& options, std::string* error);
  // On the runner's thread, before the run goes: no queued call reaches the
  // desk after this, and the server's threads have ended.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qm
