#include "rating/comments.h"

#include <filesystem>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "settings/app_session.h"
#include "support/temp_dir.h"
#include "util/file_text.h"
#include "util/text_codec.h"

namespace qm {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

class CommentsTest : public ::testing::Test {
 protected:
  std::string AutoFile(const std::string& nick) const { return dir_.File(AutoCommentFileName(nick)); }
  std::string ManualFile() const { return dir_.File(kManualCommentFile); }

  TempDir dir_;
  std::string data_ = dir_.str();
  std::string content_;
};

// ---- the standing comment ----

TEST_F(CommentsTest, FirstLoginCreatesTheFileWithTheDefaultInGbk) {
  ASSERT_TRUE(LoadAutoComment(data_, "新卖家", &content_));
  const std::string bytes = ReadFileBytes(AutoFile("新卖家"));
  EXPECT_EQ(bytes.size(), 14u);
  EXPECT_EQ(bytes, Utf8ToGbk("欢迎再次光临！"));
  EXPECT_EQ(content_, "欢迎再次光临！");
  EXPECT_EQ(AutoCommentFileName("新卖家"), "新卖家的自动评价内容.txt");
}

TEST_F(CommentsTest, ExistingFileIsReadWholeUpToAZeroOrEndOfFileByte) {
  ASSERT_TRUE(WriteFileBytes(AutoFile("两行"), Utf8ToGbk("谢谢惠顾\r\n下次再来") + '\x1a' + "tail"));
  ASSERT_TRUE(LoadAutoComment(data_, "两行", &content_));
  EXPECT_EQ(content_, "谢谢惠顾\r\n下次再来");

  ASSERT_TRUE(WriteFileBytes(AutoFile("zero"), std::string("abc\0def", 7)));
  ASSERT_TRUE(LoadAutoComment(data_, "zero", &content_));
  EXPECT_EQ(content_, "abc");
  // An existing file is never rewritten.
  EXPECT_EQ(ReadFileBytes(AutoFile("zero")), std::string("abc\0def", 7));

  ASSERT_TRUE(WriteFileBytes(AutoFile("empty"), ""));
  ASSERT_TRUE(LoadAutoComment(data_, "empty", &content_));
  EXPECT_EQ(content_, "");
}

// A file saved by hand in a UTF-8 editor (no byte order mark) reads as UTF-8;
// plain GBK text stays GBK, and a file with the mark loses it.
TEST_F(CommentsTest, TheStandingCommentIsReadInTheEncodingItWasSavedIn) {
  ASSERT_TRUE(WriteFileBytes(AutoFile("utf8"), "谢谢惠顾，欢迎再来"));
  ASSERT_TRUE(LoadAutoComment(data_, "utf8", &content_));
  EXPECT_EQ(content_, "谢谢惠顾，欢迎再来");
  ASSERT_TRUE(WriteFileBytes(AutoFile("bom"), "\xEF\xBB\xBF好评"));
  ASSERT_TRUE(LoadAutoComment(data_, "bom", &content_));
  EXPECT_EQ(content_, "好评");
  ASSERT_TRUE(WriteFileBytes(AutoFile("gbk"), Utf8ToGbk("谢谢惠顾")));
  ASSERT_TRUE(LoadAutoComment(data_, "gbk", &content_));
  EXPECT_EQ(content_, "谢谢惠顾");
}

TEST_F(CommentsTest, UnusableFilesAndNamesFailAndKeepTheOldComment) {
  content_ = "old";
  std::filesystem::create_directory(AutoFile("dir"));
  EXPECT_FALSE(LoadAutoComment(data_, "dir", &content_));
  EXPECT_FALSE(LoadAutoComment(data_, "", &content_));
  EXPECT_FALSE(LoadAutoComment(data_, "../outside", &content_));
  EXPECT_FALSE(LoadAutoComment(data_, "a\\b", &content_));
  EXPECT_EQ(content_, "old");
  EXPECT_FALSE(std::filesystem::exists(dir_.path().parent_path() / AutoCommentFileName("outside")));

  data_ = dir_.File("no-such-dir");
  EXPECT_FALSE(LoadAutoComment(data_, "nobody", &content_));
  EXPECT_EQ(content_, "old");
}

// Notepad's "Unicode" files, little or big endian: read whole (their ASCII
// holds zero bytes), up to a zero character; saved back in the same
// encoding. The per-order comments of such a file likewise.
TEST_F(CommentsTest, Utf16FilesAreReadAsSuchAndKeepTheirEncoding) {
  for (FileEncoding e : {FileEncoding::Utf16Le, FileEncoding::Utf16Be}) {
    ASSERT_TRUE(WriteFileBytes(AutoFile("notepad"), EncodeFileText("Thanks 谢谢😀\r\n", e)));
    ASSERT_TRUE(LoadAutoComment(data_, "notepad", &content_));
    EXPECT_EQ(content_, "Thanks 谢谢😀");
    ASSERT_TRUE(SaveAutoComment(data_, "notepad", "好评 again"));
    EXPECT_EQ(ReadFileBytes(AutoFile("notepad")), EncodeFileText("好评 again", e));
    EXPECT_EQ(ReadAutoComment(data_, "notepad").value_or("?"), "好评 again");
  }
  ASSERT_TRUE(WriteFileBytes(AutoFile("zero"), EncodeFileText(std::string("ab\0cd", 5), FileEncoding::Utf16Le)));
  EXPECT_EQ(ReadAutoComment(data_, "zero").value_or("?"), "ab");

  ASSERT_TRUE(WriteFileBytes(ManualFile(), EncodeFileText("[1001]\r\n评价内容=手写 OK\r\n", FileEncoding::Utf16Le)));
  EXPECT_EQ(ReadManualComment(data_, "1001"), "手写 OK");
  ASSERT_TRUE(AddOrderComment(data_, "1002", "第二单😀"));
  EXPECT_EQ(ReadFileBytes(ManualFile()),
            EncodeFileText("[1001]\r\n评价内容=手写 OK\r\n[1002]\r\n评价内容=第二单😀\r\n", FileEncoding::Utf16Le));
}

// A GBK or new comment file stays GBK while GBK holds the text, UTF-8 with
// a mark when it does not; a UTF-8 file stays UTF-8.
TEST_F(CommentsTest, SavedCommentsReadBackAsWritten) {
  for (const std::string text : {"皓辰", "谢谢惠顾", "好评😀", "ok"}) {
    ASSERT_TRUE(SaveAutoComment(data_, "new", text));
    EXPECT_EQ(ReadAutoComment(data_, "new").value_or("?"), text);
    ASSERT_TRUE(std::filesystem::remove(AutoFile("new")));
  }
  ASSERT_TRUE(SaveAutoComment(data_, "g", "谢谢惠顾"));
  EXPECT_EQ(ReadFileBytes(AutoFile("g")), Utf8ToGbk("谢谢惠顾"));
  ASSERT_TRUE(WriteFileBytes(AutoFile("u"), "欢迎光临"));
  ASSERT_TRUE(SaveAutoComment(data_, "u", "谢谢惠顾"));
  EXPECT_EQ(ReadFileBytes(AutoFile("u")), "谢谢惠顾");
}

// ---- the per-order comments ----

TEST_F(CommentsTest, OrdersWithoutAnEntryGetTheDefault) {
  EXPECT_EQ(ReadManualComment(data_, "1001"), "来而不往非礼也！");  // no file yet
  ASSERT_TRUE(AddOrderComment(data_, "1001", "说好的好评呢"));
  EXPECT_EQ(ReadManualComment(data_, "1001"), "说好的好评呢");
  EXPECT_EQ(ReadManualComment(data_, "1002"), "来而不往非礼也！");
  EXPECT_EQ(ReadManualComment(data_, ""), "来而不往非礼也！");
}

TEST_F(CommentsTest, AddingAgainReplacesTheEntryAndTheFileIsGbk) {
  ASSERT_TRUE(AddOrderComment(data_, "2001", "第一条"));
  ASSERT_TRUE(AddOrderComment(data_, "2002", "另一单"));
  ASSERT_TRUE(AddOrderComment(data_, "2001", "第二条"));
  EXPECT_EQ(ReadManualComment(data_, "2001"), "第二条");
  EXPECT_EQ(ReadManualComment(data_, "2002"), "另一单");
  const std::string bytes = ReadFileBytes(ManualFile());
  EXPECT_NE(bytes.find(Utf8ToGbk("评价内容=第二条")), std::string::npos);
  EXPECT_EQ(bytes.find(Utf8ToGbk("第一条")), std::string::npos);
  EXPECT_EQ(bytes.find("[2001]"), bytes.rfind("[2001]"));
}

TEST_F(CommentsTest, AnEmptyEntryIsTheEmptyComment) {
  ASSERT_TRUE(WriteFileBytes(ManualFile(), Utf8ToGbk("[3001]\r\n评价内容=\r\n[3002]\r\nother=x\r\n")));
  EXPECT_EQ(ReadManualComment(data_, "3001"), "");
  EXPECT_EQ(ReadManualComment(data_, "3002"), "来而不往非礼也！");
}

TEST_F(CommentsTest, RefusedEntriesStoreNothing) {
  EXPECT_FALSE(AddOrderComment(data_, "", "text"));
  EXPECT_FALSE(AddOrderComment(data_, "4001", ""));
  EXPECT_FALSE(std::filesystem::exists(ManualFile()));

  ASSERT_TRUE(AddOrderComment(data_, "4001", "kept"));
  const std::string before = ReadFileBytes(ManualFile());
  EXPECT_FALSE(AddOrderComment(data_, "4001", "two\r\nlines"));
  EXPECT_FALSE(AddOrderComment(data_, "4001", "emoji 😀"));
  EXPECT_FALSE(AddOrderComment(data_, "40]01", "x"));
  EXPECT_FALSE(AddOrderComment(data_, "4001", std::string("bad\xff utf8")));
  EXPECT_EQ(ReadFileBytes(ManualFile()), before);
  EXPECT_EQ(ReadManualComment(data_, "4001"), "kept");
}

}  // namespace
}  // namespace qm
