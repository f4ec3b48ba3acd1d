#include "util/text_codec.h"

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace qm {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";

TEST(GbkCodec, ChineseTextRoundTripsThroughTheFileEncoding) {
  const std::string utf8 = "评价时间=24, 卖家旺旺ID: 淘宝 abc\r\n";
  const std::string gbk = Utf8ToGbk(utf8);
  // 评 is C6 C0 and 价 is BC DB in code page 936.
  ASSERT_GE(gbk.size(), 4u);
  EXPECT_EQ(gbk.substr(0, 4), "\xC6\xC0\xBC\xDB");
  EXPECT_EQ(GbkToUtf8(gbk), utf8);
}

TEST(GbkCodec, LongTextAndEmbeddedZerosSurvive) {
  std::string utf8;
  for (int i = 0; i < 5000; ++i) utf8 += "手动评价内容";
  utf8.push_back('\0');
  utf8 += "tail";
  const std::string gbk = Utf8ToGbk(utf8);
  EXPECT_EQ(gbk.size(), 5000u * 12 + 5);
  EXPECT_EQ(GbkToUtf8(gbk), utf8);
}

TEST(GbkCodec, EuroSignUsesTheWindowsSingleByte) {
  EXPECT_EQ(Utf8ToGbk("\xE2\x82\xAC"), "\x80");
  EXPECT_EQ(GbkToUtf8("\x80"), "\xE2\x82\xAC");
}

TEST(GbkCodec, CharactersGbkLacksBecomeTheDefaultCharacter) {
  // An emoji and a character outside the basic plane that GBK has no code for.
  EXPECT_EQ(Utf8ToGbk("a\xF0\x9F\x98\x80" "b"), "a?b");
  EXPECT_EQ(Utf8ToGbk("\xF0\x9F\x98\x80\xF0\x9F\x98\x80"), "??");
  EXPECT_EQ(Utf8ToGbk("中\xF0\x9F\x98\x80文"), Utf8ToGbk("中") + "?" + Utf8ToGbk("文"));
}

TEST(GbkCodec, InvalidUtf8BecomesOneDefaultCharacterPerBrokenSequence) {
  EXPECT_EQ(Utf8ToGbk("a\xFF" "b"), "a?b");
  EXPECT_EQ(Utf8ToGbk("a\xC0\x80" "b"), "a??b");      // overlong: two bad bytes
  EXPECT_EQ(Utf8ToGbk("a\xE4\xB8" "b"), "a?b");       // cut-off character
  EXPECT_EQ(Utf8ToGbk("x\xE4\xB8"), "x?");            // cut off at the very end
  EXPECT_EQ(Utf8ToGbk("\xED\xA0\x80"), "???");        // encoded surrogate
}

TEST(GbkCodec, InvalidGbkBecomesReplacementAndKeepsFollowingAscii) {
  // A lead byte followed by a line break: the break must not be swallowed.
  EXPECT_EQ(GbkToUtf8("a\xC6\nb"), "a" + kFffd + "\nb");
  // 0xFF is no character in code page 936.
  EXPECT_EQ(GbkToUtf8("\xFF" "x"), kFffd + "x");
  // A lead byte cut off at the end.
  EXPECT_EQ(GbkToUtf8("ok\xC6"), "ok" + kFffd);
  EXPECT_EQ(GbkToUtf8(""), "");
}

TEST(GbkCodec, ConversionsOnManyThreadsAgree) {
  const std::string utf8 = "评价内容 good 好评";
  const std::string gbk = Utf8ToGbk(utf8);
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        if (Utf8ToGbk(utf8) != gbk || GbkToUtf8(gbk) != utf8) ++failures[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int f : failures) EXPECT_EQ(f, 0);
}

TEST(Utf8Checks, ValidityRejectsOverlongsSurrogatesAndOutOfRange) {
  EXPECT_TRUE(IsValidUtf8(""));
  EXPECT_TRUE(IsValidUtf8("plain ascii"));
  EXPECT_TRUE(IsValidUtf8("中文 \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF"));
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong '/'
  EXPECT_FALSE(IsValidUtf8("\xE0\x80\xAF"));      // overlong
  EXPECT_FALSE(IsValidUtf8("\xED\xB2\x80"));      // surrogate
  EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // past U+10FFFF
  EXPECT_FALSE(IsValidUtf8("\xE4\xB8"));          // truncated
  EXPECT_FALSE(IsValidUtf8("\x80"));              // lone continuation
}

TEST(Utf8Checks, SanitizeReplacesOnlyTheBrokenParts) {
  EXPECT_EQ(SanitizeUtf8("中文"), "中文");
  EXPECT_EQ(SanitizeUtf8("a\xFF" "b"), "a" + kFffd + "b");
  EXPECT_EQ(SanitizeUtf8("a\xE4\xB8" "b"), "a" + kFffd + "b");
  EXPECT_TRUE(IsValidUtf8(SanitizeUtf8("\xC0\x80\xED\xA0\x80\xF8\x88\x80\x80\x80")));
}

TEST(Utf16, RoundTripIncludingPairsAndBrokenInput) {
  const std::string text = "A中\xF0\x9F\x98\x80";
  const std::u16string wide = Utf8ToUtf16(text);
  ASSERT_EQ(wide.size(), 4u);
  EXPECT_EQ(wide[0], u'A');
  EXPECT_EQ(wide[1], u'\u4E2D');
  EXPECT_EQ(wide[2], 0xD83D);
  EXPECT_EQ(wide[3], 0xDE00);
  EXPECT_EQ(Utf16ToUtf8(wide), text);

  EXPECT_EQ(Utf8ToUtf16("\xFF"), std::u16string(1, u'\uFFFD'));
  const char16_t lone[] = {u'x', 0xD800, u'y', 0};
  EXPECT_EQ(Utf16ToUtf8(lone), "x" + kFffd + "y");
  const char16_t trailingHigh[] = {0xDBFF, 0};
  EXPECT_EQ(Utf16ToUtf8(trailingHigh), kFffd);
}

TEST(CaseFolding, OnlyAsciiLettersFold) {
  EXPECT_EQ(AsciiLower("AppSecret 评价ABC"), "appsecret 评价abc");
  EXPECT_TRUE(EqualsNoCase("SessionKey", "sessionkey"));
  EXPECT_FALSE(EqualsNoCase("SessionKey", "sessionkeys"));
  EXPECT_TRUE(EqualsNoCase("评价时间", "评价时间"));
  EXPECT_FALSE(EqualsNoCase("[", "{"));  // 0x5B vs 0x7B differ by the case bit
}

}  // namespace
}  // namespace qm
