// The runner as an installed program and as a portable copy: without
// --data-dir it keeps its files in the user's data directory, unless a
// Config.ini lies beside it; --version and --help answer without an account.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "headless/runner.h"
#include "rating/startup.h"
#include "support/rating_world.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

struct Ran {
  int exitCode = -1;
  std::string output;
};

std::string Quoted(const std::string& arg) {
  std::string q = "'";
  for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs `program` with `args` under HOME=`home` and the given XDG_DATA_HOME
// (none when empty), standard output and error together.
Ran RunProgram(const std::string& program, const std::vector<std::string>& args, const std::string& home,
               const std::string& xdg = {}) {
  std::string command = "env -u XDG_DATA_HOME HOME=" + Quoted(home);
  if (!xdg.empty()) command += " XDG_DATA_HOME=" + Quoted(xdg);
  command += " timeout 60 " + Quoted(program);
  for (const std::string& a : args) command += " " + Quoted(a);
  command += " 2>&1";
  Ran run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buf[4096];
  for (std::size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;) run.output.append(buf, n);
  const int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

bool Has(const Ran& run, const std::string& text) { return run.output.find(text) != std::string::npos; }

TEST(DataDir, InstalledRunnerUsesTheUsersDirectoryAndAPortableCopyItsOwn) {
  test::RatingWorld world;
  ASSERT_TRUE(world.Market().Ok());
  const std::string nick = world.Market().Seller().nick;
  const auto due = world.AddTrades({{340, "到期甲"}, {350, "到期乙"}});
  world.AddTrades({{30, "未到期"}});
  test::TempDir home;
  const std::string user = home.str() + "/.local/share/quillmere";
  const std::vector<std::string> once = {"--account", nick, "--platform", world.Market().BaseUrl(), "--once"};

  Ran run = RunProgram(QM_HEADLESS_BIN, {"--version"}, home.str());
  EXPECT_EQ(run.exitCode, kExitOk);
  EXPECT_EQ(run.output, std::string("quillmere-headless ") + ProgramVersion() + "\n");
  run = RunProgram(QM_HEADLESS_BIN, {"--help"}, home.str());
  EXPECT_EQ(run.exitCode, kExitOk);
  EXPECT_TRUE(Has(run, "data directory of this run: " + user + " (the user's data directory)")) << run.output;
  EXPECT_FALSE(fs::exists(user)) << "--help makes nothing";

  // The first run makes the directory and says which Config.ini it lacks.
  run = RunProgram(QM_HEADLESS_BIN, once, home.str());
  EXPECT_EQ(run.exitCode, kExitNoCredentials) << run.output;
  EXPECT_TRUE(Has(run, "the settings are read from " + user + "/Config.ini")) << run.output;
  ASSERT_TRUE(fs::is_directory(user));

  ASSERT_TRUE(world.Market().WriteConfig(user + "/Config.ini"));
  run = RunProgram(QM_HEADLESS_BIN, once, home.str());
  EXPECT_EQ(run.exitCode, kExitOk) << run.output;
  EXPECT_TRUE(Has(run, "data in " + user + " (the user's data directory)")) << run.output;
  for (const std::string& tid : due) EXPECT_TRUE(Has(run, "rating order=" + tid)) << run.output;
  EXPECT_TRUE(fs::exists(user + "/" + nick + ".MDB"));
  EXPECT_EQ(world.Ratings().size(), due.size());

  // XDG_DATA_HOME moves it; the runner then finds no settings there.
  run = RunProgram(QM_HEADLESS_BIN, once, home.str(), home.str() + "/xdg");
  EXPECT_EQ(run.exitCode, kExitNoCredentials) << run.output;
  EXPECT_TRUE(Has(run, home.str() + "/xdg/quillmere/Config.ini")) << run.output;

  // A portable copy with its Config.ini: its own directory, the user's untouched.
  test::TempDir portable;
  const std::string copy = portable.File("quillmere-headless");
  fs::copy_file(QM_HEADLESS_BIN, copy);
  ASSERT_TRUE(world.Market().WriteConfig(portable.File("Config.ini")));
  const auto userFiles = std::distance(fs::directory_iterator(user), fs::directory_iterator());
  run = RunProgram(copy, once, home.str());
  EXPECT_EQ(run.exitCode, kExitOk) << run.output;
  EXPECT_TRUE(Has(run, "data in " + portable.str() + " (the program's own directory, which holds a Config.ini)"))
      << run.output;
  EXPECT_TRUE(fs::exists(portable.File(nick + ".MDB")));
  EXPECT_EQ(std::distance(fs::directory_iterator(user), fs::directory_iterator()), userFiles);
}

}  // namespace
}  // namespace qm
