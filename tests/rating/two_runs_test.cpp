// Two sellers' runs in one process, each on its own marketplace, data
// directory and start-up record: neither sees the other's account.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rating/comments.h"
#include "rating/keep_list.h"
#include "rating/rating_log.h"
#include "settings/app_session.h"
#include "settings/config.h"
#include "support/rating_world.h"

namespace qm {
namespace {

std::vector<std::string> RatedTids(const test::RatingWorld& world) {
  std::vector<std::string> tids;
  for (const test::SandboxRating& r : world.Ratings()) tids.push_back(r.tid);
  return tids;
}

TEST(TwoRuns, EachRatesWithItsOwnAccountCommentAndFiles) {
  test::Sandbox::Options second;
  second.seed = 2;
  test::RatingWorld a, b(second);
  ASSERT_TRUE(a.Market().Ok() && b.Market().Ok());
  ASSERT_NE(a.Session().AppKey, b.Session().AppKey);
  ASSERT_NE(a.Session().programDir, b.Session().programDir);

  // Each seller keeps its own standing comment and keeps one buyer of its own.
  a.ChangeSettings([](RunSettings& s) { s.comments = {"甲店谢谢"}; });
  b.ChangeSettings([](RunSettings& s) { s.comments = {"乙店谢谢"}; });
  const std::string keptBuyer = "都有的买家";
  ASSERT_TRUE(b.Run().Keep().KeepBuyer(keptBuyer));

  const std::string dueA = a.AddTrade(350, keptBuyer), dueB = b.AddTrade(350, keptBuyer);
  const std::string otherB = b.AddTrade(349, "乙的买家");
  a.AddUnratedRow(dueA, keptBuyer, 350);
  b.AddUnratedRow(dueB, keptBuyer, 350);
  b.AddUnratedRow(otherB, "乙的买家", 349);

  // Interleaved refreshes and passes: each reaches only its own marketplace.
  a.Refresh();
  b.Refresh();
  a.Pass();
  b.Pass();
  a.Pass();
  EXPECT_EQ(RatedTids(a), std::vector<std::string>{dueA});
  EXPECT_EQ(RatedTids(b), std::vector<std::string>{otherB}) << "b keeps the buyer, a does not";
  ASSERT_EQ(a.Ratings().size(), 1u);
  EXPECT_EQ(a.Ratings()[0].content, "甲店谢谢");
  ASSERT_EQ(b.Ratings().size(), 1u);
  EXPECT_EQ(b.Ratings()[0].content, "乙店谢谢");

  // The keep list and the rating log are each in their own directory.
  EXPECT_FALSE(KeepList(KeepListPath(a.Session().programDir, a.Session().sellerNick), a.Clock()).KeepsBuyer(keptBuyer));
  KeepList keptByB(KeepListPath(b.Session().programDir, b.Session().sellerNick), b.Clock());
  keptByB.Refresh();
  EXPECT_TRUE(keptByB.KeepsBuyer(keptBuyer));
  for (test::RatingWorld* w : {&a, &b}) {
    std::vector<std::string> logged;
    for (const RatingLogEntry& e : w->Run().Log().Entries()) logged.push_back(e.tid);
    EXPECT_EQ(logged, RatedTids(*w));
    EXPECT_EQ(w->Run().Log().Path(), w->Dir().File(RatingLogFileName(w->Session().sellerNick)));
  }

  // A settings write through one record's directory leaves the other's Config.ini alone.
  ASSERT_TRUE(WriteSetting(a.Session().programDir, a.Session().sellerNick, kKeyCommentUse, kCommentsInTurn));
  EXPECT_EQ(ReadSetting(b.Session().programDir, b.Session().sellerNick, kKeyCommentUse), "");
  EXPECT_EQ(ReadSetting(a.Session().programDir, a.Session().sellerNick, kKeyCommentUse), kCommentsInTurn);
}

}  // namespace
}  // namespace qm
