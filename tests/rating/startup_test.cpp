// The start-up steps that need no platform: which account names can name the
// seller's files, and which program directory a run uses.
#include "rating/startup.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "settings/app_session.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

TEST(AccountName, OrdinaryNamesPassAndFileBreakingOnesAreRefused) {
  EXPECT_EQ(AccountNameProblem("淘宝卖家_01"), "");
  EXPECT_EQ(AccountNameProblem("tb 123-abc.shop"), "");
  EXPECT_EQ(AccountNameProblem("繁體也行"), "");
  for (const char* bad : {"", "a..b", "../x", "a\\b", "x<y|z", "a\tb", "卖家😀", "판매자", "\xC3"}) {
    EXPECT_NE(AccountNameProblem(bad), "") << bad;
  }
  std::string huge;
  for (int i = 0; i < 1000; ++i) huge += "卖";
  EXPECT_NE(AccountNameProblem(huge), "");
}

// Sets an environment variable for one test and puts it back afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(ProgramDir, GivenMustBeADirectoryAndIsNeverMade) {
  test::TempDir dir;
  AppSession record;
  EXPECT_TRUE(UseProgramDir(record, dir.str() + "/", "/opt/quillmere").Ready());
  EXPECT_EQ(record.programDir, dir.str()) << "no trailing separator";

  ASSERT_TRUE(test::WriteFileBytes(dir.File("plain"), "x"));
  for (const std::string& bad : {dir.File("missing"), dir.File("plain"), dir.File("missing/deeper")}) {
    const StartupStep step = UseProgramDir(record, bad, "/opt/quillmere");
    EXPECT_EQ(step.outcome, StartupOutcome::BadDataDir) << bad;
    EXPECT_NE(step.reason.find("“" + bad + "”"), std::string::npos) << step.reason;
    EXPECT_EQ(record.programDir, dir.str()) << "a refused directory is not used";
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("missing")));
}

TEST(ProgramDir, WithoutOneAPortableCopyKeepsItsFilesAndAnInstalledOneUsesTheUsersDirectory) {
  AppSession record;
  namespace fs = std::filesystem;
  test::TempDir home, program;
  ScopedEnv homeVar("HOME", home.str().c_str());
  ScopedEnv xdg("XDG_DATA_HOME", nullptr);
  const std::string user = home.str() + "/.local/share/quillmere";

  // An installed program: nothing of ours beside it, so the user's directory,
  // made with its parents, for its owner only, and found again next time.
  ProgramDirChoice choice = ChooseProgramDir("", program.str());
  EXPECT_EQ(choice.source, ProgramDirSource::User);
  EXPECT_EQ(choice.dir, user);
  EXPECT_FALSE(fs::exists(user)) << "choosing makes nothing";
  ASSERT_TRUE(UseProgramDir(record, choice).Ready());
  EXPECT_EQ(record.programDir, user);
  EXPECT_EQ(fs::status(user).permissions() & fs::perms::all, fs::perms::owner_all);
  ASSERT_TRUE(test::WriteFileBytes(user + "/Config.ini", "[a]\r\n"));
  EXPECT_TRUE(UseProgramDir(record, "", program.str()).Ready());
  EXPECT_EQ(test::ReadFileBytes(user + "/Config.ini"), "[a]\r\n");

  // A portable copy: its Config.ini decides, however writable anything is.
  ASSERT_TRUE(test::WriteFileBytes(program.File("Config.ini"), ""));
  choice = ChooseProgramDir("", program.str());
  EXPECT_EQ(choice.source, ProgramDirSource::Portable);
  EXPECT_EQ(choice.dir, program.str());
  // --data-dir still comes first.
  EXPECT_EQ(ChooseProgramDir(home.str(), program.str()).source, ProgramDirSource::Given);
  fs::remove(program.File("Config.ini"));

  // XDG_DATA_HOME when it is absolute; a relative one is ignored.
  {
    ScopedEnv set("XDG_DATA_HOME", (home.str() + "/xdg/").c_str());
    EXPECT_EQ(ChooseProgramDir("", program.str()).dir, home.str() + "/xdg/quillmere");
  }
  {
    ScopedEnv set("XDG_DATA_HOME", "relative/data");
    EXPECT_EQ(ChooseProgramDir("", program.str()).dir, user);
  }

  // Something else where the directory should be is named, never replaced.
  {
    ScopedEnv set("XDG_DATA_HOME", (home.str() + "/blocked").c_str());
    fs::create_directories(home.str() + "/blocked");
    ASSERT_TRUE(test::WriteFileBytes(home.str() + "/blocked/quillmere", "mine"));
    const StartupStep step = UseProgramDir(record, "", program.str());
    EXPECT_EQ(step.outcome, StartupOutcome::BadDataDir);
    EXPECT_NE(step.reason.find(home.str() + "/blocked/quillmere"), std::string::npos) << step.reason;
    EXPECT_EQ(test::ReadFileBytes(home.str() + "/blocked/quillmere"), "mine");
    EXPECT_EQ(record.programDir, user);
  }
}

}  // namespace
}  // namespace qm
