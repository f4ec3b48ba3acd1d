// kill -9 at random moments: the headless runner against the sandbox (its
// start-up, first load, refresh and passes) together with a process that keeps
// rewriting Config.ini, both killed at once, 200 times. After each kill the
// next start must find a usable order database, a whole Config.ini (the
// seller's section as it was, the writer's value one it wrote) and, once it
// has started, no temporary file of a killed writer that is older than the
// start leaves such files (a minute: a younger one may belong to a writer
// between making and locking it), so that the kills' temporaries never pile up.
//
//   bench_kill9 [ROUNDS]
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "orders/order_db.h"
#include "util/file_io.h"
#include "settings/app_session.h"
#include "settings/config.h"
#include "settings/profile.h"
#include "support/headless_process.h"
#include "support/sandbox_process.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// A process that rewrites one key of another section of Config.ini for ever.
pid_t StartWriter(const std::string& dir) {
  const pid_t pid = fork();
  if (pid == 0) {
    for (unsigned i = 0;; ++i) qm::WriteRatingHoursSetting(dir, "写入者", std::to_string(i % 1000));
  }
  return pid;
}

// The temporaries in `dir`; with `olderThan` > 0, only those last written
// longer ago than that many seconds.
std::vector<std::string> Strays(const std::string& dir, int olderThan = 0) {
  std::vector<std::string> out;
  const auto now = fs::file_time_type::clock::now();
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string n = e.path().filename().string();
    if (n.find(".tmp-") == std::string::npos && n.find(".part") == std::string::npos) continue;
    std::error_code error;
    const auto written = fs::last_write_time(e.path(), error);
    if (error) continue;  // gone meanwhile
    if (olderThan > 0 && now - written <= std::chrono::seconds(olderThan)) continue;
    out.push_back(n);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  // Options of the benchmark runner (--benchmark_*) are not ours.
  const int rounds = argc > 1 && argv[1][0] != '-' ? std::atoi(argv[1]) : 200;
  qm::test::Sandbox::Options options;
  options.trades = 0;
  options.latencyMs = 2;
  qm::test::Sandbox sb(options);
  if (!sb.Ok()) {
    std::puts("the sandbox marketplace did not start");
    return 1;
  }
  // Enough trades that the first load takes a while; some due, so passes post.
  std::string trades = R"({"trades":[)";
  for (int i = 0; i < 3000; ++i) {
    if (i > 0) trades += ",";
    trades += R"({"buyer_nick":"买家)" + std::to_string(i) + R"(","ended_hours_ago":)" + std::to_string(i % 359) + "}";
  }
  trades += "]}";
  sb.AdminPost("trades", trades);

  qm::test::TempDir dir;
  const std::string config = dir.File("Config.ini");
  if (!sb.WriteConfig(config)) return 1;
  const std::string nick = sb.Seller().nick;
  const std::string key = qm::ReadAppKey(dir.str(), nick), secret = qm::ReadAppSecret(dir.str(), nick);
  const std::vector<std::string> run = {"--account", nick, "--data-dir", dir.str(), "--platform", sb.BaseUrl()};
  std::vector<std::string> once = run;
  once.push_back("--once");

  std::mt19937 random(12345);
  std::uniform_int_distribution<int> moment(0, 2500);
  int leftByKills = 0, hotJournals = 0;
  int unusableDatabases = 0, tornConfigs = 0, strayAfterStart = 0, failedStarts = 0, mostKept = 0;
  for (int round = 0; round < rounds; ++round) {
    // Every tenth round starts from nothing, so the first moments of a first
    // run (the template and the database being made) are hit too.
    if (round % 10 == 0) {
      for (const char* f : {"模板.MDB", "模板.MDB-journal"}) fs::remove(dir.File(f));
      for (const std::string suffix : {".MDB", ".MDB-journal", ".MDB-wal", ".MDB-shm"}) fs::remove(dir.File(nick + suffix));
    }
    const pid_t runner = qm::test::StartHeadless(run);
    const pid_t writer = StartWriter(dir.str());
    std::this_thread::sleep_for(std::chrono::milliseconds(moment(random)));
    kill(runner, SIGKILL);
    kill(writer, SIGKILL);
    qm::test::WaitForExit(runner);
    qm::test::WaitForExit(writer);

    leftByKills += static_cast<int>(Strays(dir.str()).size());
    if (fs::exists(dir.File(nick + ".MDB-journal"))) ++hotJournals;
    if (qm::ReadAppKey(dir.str(), nick) != key || qm::ReadAppSecret(dir.str(), nick) != secret) ++tornConfigs;
    const std::string written = qm::ReadRatingHoursSetting(dir.str(), "写入者");
    if (!written.empty() && written.find_first_not_of("0123456789") != std::string::npos) ++tornConfigs;

    // The next start.
    const int code = qm::test::WaitForExit(qm::test::StartHeadless(once));
    if (code != 0) {
      ++failedStarts;
      std::printf("round %d: the next start ended with %d\n", round, code);
    }
    const std::string db = dir.File(nick + ".MDB");
    std::string why;
    if (fs::exists(db) && !qm::IsOrderDatabase(db, &why)) {
      ++unusableDatabases;
      std::printf("round %d: %s\n", round, why.c_str());
    }
    // The start removes what killed writers left once it is a minute old; a
    // few seconds more, as the start looked before this check.
    mostKept = std::max(mostKept, static_cast<int>(Strays(dir.str()).size()));
    const auto strays = Strays(dir.str(), qm::kStrayTemporaryAgeSeconds + 15);
    if (!strays.empty()) {
      ++strayAfterStart;
      std::printf("round %d: left after the next start: %s\n", round, strays.front().c_str());
    }
  }
  std::printf("kill -9 rounds: %d\n", rounds);
  std::printf("  temporaries left by the kills: %d, journals left: %d\n", leftByKills, hotJournals);
  std::printf("  next start failed:            %d\n", failedStarts);
  std::printf("  unusable databases:           %d\n", unusableDatabases);
  std::printf("  torn Config.ini:              %d\n", tornConfigs);
  std::printf("  most temporaries kept at once (younger than %d s): %d\n", qm::kStrayTemporaryAgeSeconds + 15,
              mostKept);
  std::printf("  older stray files after a start: %d\n", strayAfterStart);
  return failedStarts + unusableDatabases + tornConfigs + strayAfterStart == 0 ? 0 : 1;
}
