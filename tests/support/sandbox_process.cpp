#include "support/sandbox_process.h"

#include <fcntl.h>
#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <thread>

#include "platform/platform_link.h"
#include "settings/app_session.h"

namespace qm::test {

namespace {

// Reads the child's first line of standard output, waiting at most timeoutMs.
std::string ReadFirstLine(int fd, int timeoutMs) {
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return {};
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char c;
    ssize_t n = read(fd, &c, 1);
    if (n <= 0) return {};
    if (c == '\n') return line;
    line += c;
  }
}

}  // namespace

Sandbox::Sandbox() : Sandbox(Options{}) {}

Sandbox::Sandbox(const Options& options) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  std::vector<std::string> args = {QM_SANDBOX_BIN,
                                   "--port",
                                   "0",
                                   "--seed",
                                   std::to_string(options.seed),
                                   "--trades",
                                   std::to_string(options.trades),
                                   "--latency-ms",
                                   std::to_string(options.latencyMs)};
  args.insert(args.end(), options.extraArgs.begin(), options.extraArgs.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ < 0) {
    close(fds[0]);
    close(fds[1]);
    pid_ = -1;
    return;
  }
  if (pid_ == 0) {
    // The sandbox goes with the test that started it, however that ends.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(1);
    dup2(fds[1], STDOUT_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(fds[1]);
  const std::string line = ReadFirstLine(fds[0], 20000);
  close(fds[0]);
  const std::string prefix = "listening on http://127.0.0.1:";
  if (line.rfind(prefix, 0) != 0) return;
  const int port = std::atoi(line.c_str() + prefix.size());
  if (port <= 0) return;
  port_ = port;
  const std::string body = AdminGet("seller");
  auto json = nlohmann::json::parse(body, nullptr, false);
  if (json.is_discarded() || !json.is_object()) {
    port_ = 0;
    return;
  }
  auto text = [&](const char* key) { return json.value(key, std::string()); };
  seller_ = SandboxSeller{text("nick"),     text("user_id"),  text("avatar"), text("app_key"),
                          text("app_secret"), text("password"), text("session")};
}

Sandbox::~Sandbox() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  for (int i = 0; i < 500; ++i) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}

std::string Sandbox::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::string Sandbox::AdminGet(const std::string& path) const {
  if (port_ <= 0) return {};
  httplib::Client client("127.0.0.1", port_);
  client.set_read_timeout(60, 0);
  auto res = client.Get(("/__sandbox/" + path).c_str());
  if (!res || res->status < 200 || res->status >= 300) return {};
  return res->body;
}

std::string Sandbox::AdminPost(const std::string& path, const std::string& json) const {
  if (port_ <= 0) return {};
  httplib::Client client("127.0.0.1", port_);
  client.set_read_timeout(60, 0);
  auto res = client.Post(("/__sandbox/" + path).c_str(), json, "application/json");
  if (!res || res->status < 200 || res->status >= 300) return {};
  return res->body;
}

bool Sandbox::WriteConfig(const std::string& iniPath) const {
  return !AdminPost("write-config", nlohmann::json{{"path", iniPath}}.dump()).empty();
}

Account Sandbox::SellerAccount() const {
  AppSession s;
  UseInSession(s);
  return s.RunAccount();
}

void Sandbox::UseInSession(AppSession& s) const {
  s.sellerNick = seller_.nick;
  s.AppKey = seller_.appKey;
  s.AppSecret = seller_.appSecret;
  s.SessionKey = seller_.session;
  s.endpoints = Endpoints::AtBase(BaseUrl());
  if (!s.link) s.link = std::make_shared<PlatformLink>();  // as the program's entry makes one
}

}  // namespace qm::test
