#include "rating/comments.h"

#include <filesystem>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "settings/app_session.h"
#include "support/temp_dir.h"
#include "util/text_codec.h"

namespace qm {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

class CommentsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Session().programDir = dir_.str();
    Session().autoContent.clear();
  }
  void TearDown() override { Session().programDir.clear(); }

  std::string AutoFile(const std::string& nick) const { return dir_.File(AutoCommentFileName(nick)); }
  std::string ManualFile() const { return dir_.File(kManualCommentFile); }

  TempDir dir_;
};

// ---- the standing comment ----

TEST_F(CommentsTest, FirstLoginCreatesTheFileWithTheDefaultInGbk) {
  ASSERT_TRUE(LoadAutoComment("新卖家"));
  const std::string bytes = ReadFileBytes(AutoFile("新卖家"));
  EXPECT_EQ(bytes.size(), 14u);
  EXPECT_EQ(bytes, Utf8ToGbk("欢迎再次光临！"));
  EXPECT_EQ(Session().autoContent, "欢迎再次光临！");
  EXPECT_EQ(AutoCommentFileName("新卖家"), "新卖家的自动评价内容.txt");
}

TEST_F(CommentsTest, ExistingFileIsReadWholeUpToAZeroOrEndOfFileByte) {
  ASSERT_TRUE(WriteFileBytes(AutoFile("两行"), Utf8ToGbk("谢谢惠顾\r\n下次再来") + '\x1a' + "tail"));
  ASSERT_TRUE(LoadAutoComment("两行"));
  EXPECT_EQ(Session().autoContent, "谢谢惠顾\r\n下次再来");

  ASSERT_TRUE(WriteFileBytes(AutoFile("zero"), std::string("abc\0def", 7)));
  ASSERT_TRUE(LoadAutoComment("zero"));
  EXPECT_EQ(Session().autoContent, "abc");
  // An existing file is never rewritten.
  EXPECT_EQ(ReadFileBytes(AutoFile("zero")), std::string("abc\0def", 7));

  ASSERT_TRUE(WriteFileBytes(AutoFile("empty"), ""));
  ASSERT_TRUE(LoadAutoComment("empty"));
  EXPECT_EQ(Session().autoContent, "");
}

// A file saved by hand in a UTF-8 editor (no byte order mark) reads as UTF-8;
// plain GBK text stays GBK, and a file with the mark loses it.
TEST_F(CommentsTest, TheStandingCommentIsReadInTheEncodingItWasSavedIn) {
  ASSERT_TRUE(WriteFileBytes(AutoFile("utf8"), "谢谢惠顾，欢迎再来"));
  ASSERT_TRUE(LoadAutoComment("utf8"));
  EXPECT_EQ(Session().autoContent, "谢谢惠顾，欢迎再来");
  ASSERT_TRUE(WriteFileBytes(AutoFile("bom"), "\xEF\xBB\xBF好评"));
  ASSERT_TRUE(LoadAutoComment("bom"));
  EXPECT_EQ(Session().autoContent, "好评");
  ASSERT_TRUE(WriteFileBytes(AutoFile("gbk"), Utf8ToGbk("谢谢惠顾")));
  ASSERT_TRUE(LoadAutoComment("gbk"));
  EXPECT_EQ(Session().autoContent, "谢谢惠顾");
}

TEST_F(CommentsTest, UnusableFilesAndNamesFailAndKeepTheOldComment) {
  Session().autoContent = "old";
  std::filesystem::create_directory(AutoFile("dir"));
  EXPECT_FALSE(LoadAutoComment("dir"));
  EXPECT_FALSE(LoadAutoComment(""));
  EXPECT_FALSE(LoadAutoComment("../outside"));
  EXPECT_FALSE(LoadAutoComment("a\\b"));
  EXPECT_EQ(Session().autoContent, "old");
  EXPECT_FALSE(std::filesystem::exists(dir_.path().parent_path() / AutoCommentFileName("outside")));

  Session().programDir = dir_.File("no-such-dir");
  EXPECT_FALSE(LoadAutoComment("nobody"));
  EXPECT_EQ(Session().autoContent, "old");
}

// ---- the per-order comments ----

TEST_F(CommentsTest, OrdersWithoutAnEntryGetTheDefault) {
  EXPECT_EQ(ReadManualComment("1001"), "来而不往非礼也！");  // no file yet
  ASSERT_TRUE(AddOrderComment("1001", "说好的好评呢"));
  EXPECT_EQ(ReadManualComment("1001"), "说好的好评呢");
  EXPECT_EQ(ReadManualComment("1002"), "来而不往非礼也！");
  EXPECT_EQ(ReadManualComment(""), "来而不往非礼也！");
}

TEST_F(CommentsTest, AddingAgainReplacesTheEntryAndTheFileIsGbk) {
  ASSERT_TRUE(AddOrderComment("2001", "第一条"));
  ASSERT_TRUE(AddOrderComment("2002", "另一单"));
  ASSERT_TRUE(AddOrderComment("2001", "第二条"));
  EXPECT_EQ(ReadManualComment("2001"), "第二条");
  EXPECT_EQ(ReadManualComment("2002"), "另一单");
  const std::string bytes = ReadFileBytes(ManualFile());
  EXPECT_NE(bytes.find(Utf8ToGbk("评价内容=第二条")), std::string::npos);
  EXPECT_EQ(bytes.find(Utf8ToGbk("第一条")), std::string::npos);
  EXPECT_EQ(bytes.find("[2001]"), bytes.rfind("[2001]"));
}

TEST_F(CommentsTest, AnEmptyEntryIsTheEmptyComment) {
  ASSERT_TRUE(WriteFileBytes(ManualFile(), Utf8ToGbk("[3001]\r\n评价内容=\r\n[3002]\r\nother=x\r\n")));
  EXPECT_EQ(ReadManualComment("3001"), "");
  EXPECT_EQ(ReadManualComment("3002"), "来而不往非礼也！");
}

TEST_F(CommentsTest, RefusedEntriesStoreNothing) {
  EXPECT_FALSE(AddOrderComment("", "text"));
  EXPECT_FALSE(AddOrderComment("4001", ""));
  EXPECT_FALSE(std::filesystem::exists(ManualFile()));

  ASSERT_TRUE(AddOrderComment("4001", "kept"));
  const std::string before = ReadFileBytes(ManualFile());
  EXPECT_FALSE(AddOrderComment("4001", "two\r\nlines"));
  EXPECT_FALSE(AddOrderComment("4001", "emoji 😀"));
  EXPECT_FALSE(AddOrderComment("40]01", "x"));
  EXPECT_FALSE(AddOrderComment("4001", std::string("bad\xff utf8")));
  EXPECT_EQ(ReadFileBytes(ManualFile()), before);
  EXPECT_EQ(ReadManualComment("4001"), "kept");
}

}  // namespace
}  // namespace qm
