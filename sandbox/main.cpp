// quillmere-sandbox: a stand-in marketplace on one loopback port.
//
//   quillmere-sandbox [--port N] [--seed S] [--trades N] [--latency-ms L]
//                     [--threads N] [--write-config FILE]
//                     [--daily-limit N] [--ban-every E --ban-seconds S]
//   quillmere-sandbox --version | --help
//
// The first line on standard output is "listening on http://127.0.0.1:PORT";
// the demo seller's credentials follow. SIGINT and SIGTERM stop it cleanly.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "config_file.h"
#include "server.h"

namespace {

void Usage(FILE* to) {
  std::fputs(
      "usage: quillmere-sandbox [--port N] [--seed S] [--trades N] [--latency-ms L]\n"
      "                         [--threads N] [--write-config FILE]\n"
      "                         [--daily-limit N] [--ban-every E --ban-seconds S]\n"
      "       quillmere-sandbox --version | --help\n"
      "  --port N           loopback port, 0 (the default) takes a free one\n"
      "  --seed S           seed of the marketplace (default 1)\n"
      "  --trades N         number of seeded trades (default 60)\n"
      "  --latency-ms L     added to every answer but the admin interface's\n"
      "  --threads N        worker threads (default 64)\n"
      "  --write-config F   write the demo seller's section into the Config.ini F\n"
      "  --daily-limit N    calls an application key may make per day (Beijing time); 0, the\n"
      "                     default, for no limit: past it, \"App Call Limited\" until midnight\n"
      "  --ban-every E      every E seconds one method is banned (the first one called)...\n"
      "  --ban-seconds S    ...for S seconds, with the platform's \"App Call Limited\"\n"
      "  --version          print the program's name and version and exit\n"
      "  --help, -h         print this help and exit\n",
      to);
}

bool ParseInt(const char* text, long min, long max, long* out) {
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text, &end, 10);
  if (errno || end == text || *end != '\0' || v < min || v > max) return false;
  *out = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  qm::sandbox::ServerOptions options;
  std::string configPath;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      Usage(stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("quillmere-sandbox %s\n", QM_VERSION);
      return 0;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "quillmere-sandbox: %s needs a value\n", arg.c_str());
      Usage(stderr);
      return 2;
    }
    const char* value = argv[++i];
    long n = 0;
    bool ok = true;
    if (arg == "--port") {
      ok = ParseInt(value, 0, 65535, &n);
      options.port = static_cast<int>(n);
    } else if (arg == "--seed") {
      ok = ParseInt(value, 0, 4294967295L, &n);
      options.seed = static_cast<unsigned>(n);
    } else if (arg == "--trades") {
      ok = ParseInt(value, 0, 5'000'000, &n);
      options.trades = static_cast<int>(n);
    } else if (arg == "--latency-ms") {
      ok = ParseInt(value, 0, 600'000, &n);
      options.latencyMs = static_cast<int>(n);
    } else if (arg == "--threads") {
      ok = ParseInt(value, 1, 4096, &n);
      options.threads = static_cast<int>(n);
    } else if (arg == "--daily-limit") {
      ok = ParseInt(value, 0, 1'000'000'000, &n);
      options.quota.dailyLimit = n;
    } else if (arg == "--ban-every") {
      ok = ParseInt(value, 0, 1'000'000'000, &n);
      options.quota.banEverySeconds = n;
    } else if (arg == "--ban-seconds") {
      ok = ParseInt(value, 0, 1'000'000'000, &n);
      options.quota.banSeconds = n;
    } else if (arg == "--write-config") {
      configPath = value;
    } else {
      std::fprintf(stderr, "quillmere-sandbox: unknown option %s\n", arg.c_str());
      Usage(stderr);
      return 2;
    }
    if (!ok) {
      std::fprintf(stderr, "quillmere-sandbox: bad value for %s: %s\n", arg.c_str(), value);
      return 2;
    }
  }

  // A reader that went away must not end the server.
  signal(SIGPIPE, SIG_IGN);
  // A shell starts background jobs with SIGINT ignored, and an ignored signal
  // never reaches sigwait: take the default disposition back first.
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  qm::sandbox::SandboxServer server(options);
  const int port = server.Bind();
  if (port <= 0) {
    std::fprintf(stderr, "quillmere-sandbox: cannot listen on 127.0.0.1:%d\n", options.port);
    return 1;
  }
  const auto seller = *server.context().market.SellerAt(0);
  if (!configPath.empty()) {
    std::string error;
    if (!qm::sandbox::WriteSellerConfig(configPath, seller, &error)) {
      std::fprintf(stderr, "quillmere-sandbox: cannot write %s: %s\n", configPath.c_str(), error.c_str());
      return 1;
    }
  }
  std::printf("listening on http://127.0.0.1:%d\n", port);
  std::fflush(stdout);
  std::printf(
      "seller nick: %s\nuser id: %s\napp key: %s\napp secret: %s\nsession key: %s\nlogin password: %s\n"
      "trades: %zu\n",
      seller.nick.c_str(), seller.userId.c_str(), seller.appKey.c_str(), seller.appSecret.c_str(),
      seller.session.c_str(), seller.password.c_str(), server.context().market.TradeCount());
  if (!configPath.empty()) std::printf("config written: %s\n", configPath.c_str());
  std::fflush(stdout);

  std::atomic<bool> finished{false};
  std::thread waiter([&server, &finished, stopSignals] {
    int sig = 0;
    sigwait(&stopSignals, &sig);
    // A signal can come before the server has started listening, when a
    // stop would be lost: repeat it until the server has ended.
    while (!finished.load()) {
      server.Stop();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  const bool ran = server.Run();
  finished = true;
  // Wake the waiter when the server ended by itself.
  pthread_kill(waiter.native_handle(), SIGTERM);
  waiter.join();
  return ran ? 0 : 1;
}
