// The start-up steps that need no platform: which account names can name the
// seller's files, and which program directory a run uses.
#include "rating/startup.h"

#include <gtest/gtest.h>

#include <filesystem>

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
}

TEST(ProgramDir, GivenMustBeADirectoryAndTheDefaultIsTakenAsItIs) {
  test::TempDir dir;
  Session().programDir.clear();
  EXPECT_TRUE(UseProgramDir("", "/opt/quillmere").Ready());
  EXPECT_EQ(Session().programDir, "/opt/quillmere");

  EXPECT_TRUE(UseProgramDir(dir.str() + "/", "/opt/quillmere").Ready());
  EXPECT_EQ(Session().programDir, dir.str()) << "no trailing separator";

  ASSERT_TRUE(test::WriteFileBytes(dir.File("plain"), "x"));
  for (const std::string& bad : {dir.File("missing"), dir.File("plain"), dir.File("missing/deeper")}) {
    const StartupStep step = UseProgramDir(bad, "/opt/quillmere");
    EXPECT_EQ(step.outcome, StartupOutcome::BadDataDir) << bad;
    EXPECT_NE(step.reason.find("“" + bad + "”"), std::string::npos) << step.reason;
    EXPECT_EQ(Session().programDir, dir.str()) << "a refused directory is not used";
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("missing")));
}

}  // namespace
}  // namespace qm
