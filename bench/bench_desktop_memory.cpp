// The desktop program's resident memory with 100000 open orders: the real
// program (offscreen) against the sandbox marketplace, once with no trades and
// once with 100000 trades unrated on both sides, each read from
// /proc/PID/status once the busy picture has gone (first load, refresh and
// first pass done). Target: at most 60 MB above the empty lists. The two
// kinds alternate over three rounds on a machine that may be shared.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/sandbox_process.h"
#include "support/temp_dir.h"

namespace {

using nlohmann::json;
constexpr int kTrades = 100000;

// The desktop program with the window driver on it, which says when the busy picture has gone.
std::string DrivenDesktopBinary() {
  return (std::filesystem::path(QM_HEADLESS_BIN).parent_path() / "quillmere-drive").string();
}

double ResidentMegabytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  return -1;
}

// Starts the desktop program for the sandbox's seller, waits until the driver
// says its orders are loaded, lets it settle and reads its resident memory; < 0 on failure.
double LoadedMegabytes(const qm::test::Sandbox& sb, const std::string& dataDir) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const std::string bin = DrivenDesktopBinary();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    int devnull = open("/dev/null", O_WRONLY);
    if (devnull >= 0) dup2(devnull, 2);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);  // the benchmarks run as root here
    setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu", 1);
    execl(bin.c_str(), bin.c_str(), "--report", "--data-dir", dataDir.c_str(), "--platform", sb.BaseUrl().c_str(), "--account",
          sb.Seller().nick.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string out;
  double megabytes = -1;
  char buf[512];
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (std::chrono::steady_clock::now() < limit) {
    pollfd p{fds[0], POLLIN, 0};
    if (poll(&p, 1, 1000) < 0) break;
    if (p.revents == 0) continue;
    const ssize_t n = read(fds[0], buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
    if (out.find("loaded ") != std::string::npos) {
      std::this_thread::sleep_for(std::chrono::seconds(2));
      megabytes = ResidentMegabytes(pid);
      break;
    }
  }
  close(fds[0]);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  if (megabytes < 0) std::printf("the desktop program said:\n%s\n", out.c_str());
  return megabytes;
}

bool AddTrades(const qm::test::Sandbox& sb) {
  for (int first = 0; first < kTrades; first += 20000) {
    json trades = json::array();
    for (int i = first; i < first + 20000; ++i)
      trades.push_back({{"tid", std::to_string(4100000000000000LL + i)},
                        {"buyer_nick", "买家旺旺" + std::to_string(i)},
                        {"ended_hours_ago", 1 + (i * 7) % 330},  // none due
                        {"buyer_rate", "none"},
                        {"seller_rate", "none"}});
    if (sb.AdminPost("trades", json{{"trades", trades}}.dump()).empty()) return false;
  }
  return true;
}

}  // namespace

int main() {
  qm::test::Sandbox empty, full;
  if (!empty.Ok() || !full.Ok()) {
    std::puts("the sandbox marketplace did not start");
    return 1;
  }
  for (auto* sb : {&empty, &full}) sb->AdminPost("reset", json{{"seed", 1}, {"trades", 0}}.dump());
  if (!AddTrades(full)) {
    std::puts("could not add the trades");
    return 1;
  }
  std::vector<double> extra;
  for (int round = 0; round < 3; ++round) {
    qm::test::TempDir emptyDir, fullDir;
    if (!empty.WriteConfig(emptyDir.File("Config.ini")) || !full.WriteConfig(fullDir.File("Config.ini"))) return 1;
    const double base = LoadedMegabytes(empty, emptyDir.str());
    const double loaded = LoadedMegabytes(full, fullDir.str());
    if (base < 0 || loaded < 0) {
      std::puts("the desktop program did not load its orders");
      return 1;
    }
    std::printf("round %d: empty lists %.1f MB, %d orders %.1f MB resident\n", round + 1, base, kTrades, loaded);
    extra.push_back(loaded - base);
  }
  std::sort(extra.begin(), extra.end());
  const double median = extra[extra.size() / 2];
  std::printf("desktop resident memory for %d orders above empty lists: median %.1f MB, range %.1f-%.1f MB "
              "(target <= 60 MB): %s\n",
              kTrades, median, extra.front(), extra.back(), median <= 60.0 ? "met" : "MISSED");
  return 0;
}
