#include "util/file_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "util/text_codec.h"

namespace qm {
namespace {

// The 6763 characters of GB2312's two levels, as GBK byte pairs.
std::vector<std::string> Gb2312Hanzi() {
  std::vector<std::string> chars;
  for (int lead = 0xB0; lead <= 0xF7; ++lead) {
    for (int trail = 0xA1; trail <= 0xFE; ++trail) {
      if (lead == 0xD7 && trail >= 0xFA) continue;  // the end of level 1 is empty
      chars.push_back(std::string{static_cast<char>(lead), static_cast<char>(trail)});
    }
  }
  return chars;
}

// A Config.ini as the Windows original leaves it, with a two-character
// shop name as its only Chinese: every pair of GB2312 characters reads as GBK.
TEST(FileEncodingGuess, NoTwoCharacterGbkShopNameIsTakenForUtf8) {
  const std::vector<std::string> hanzi = Gb2312Hanzi();
  ASSERT_EQ(hanzi.size(), 6763u);
  std::string file = "[XXXX]\r\nappkey=23456789\r\nAppSecret=0123456789abcdef0123456789abcdef\r\n";
  std::int64_t validUtf8 = 0, misread = 0;
  std::string firstMisread;
  for (const std::string& a : hanzi) {
    file.replace(1, 2, a);
    for (const std::string& b : hanzi) {
      file.replace(3, 2, b);
      if (DetectFileEncoding(file) == FileEncoding::Gbk) continue;
      ++misread;
      if (firstMisread.empty()) firstMisread = GbkToUtf8(a + b);
    }
    // The names that are valid UTF-8 at all are the ones that test the guess.
    if (static_cast<unsigned char>(a[0]) >= 0xF0 && static_cast<unsigned char>(a[0]) <= 0xF4) {
      for (const std::string& b : hanzi) validUtf8 += IsValidUtf8(a + b);
    }
  }
  EXPECT_EQ(validUtf8, 61504);
  EXPECT_EQ(misread, 0) << "first: " << firstMisread;
}

// The same names saved by a UTF-8 editor stay UTF-8 (every 37th pair).
TEST(FileEncodingGuess, TwoCharacterUtf8ShopNamesStayUtf8) {
  const std::vector<std::string> hanzi = Gb2312Hanzi();
  std::vector<std::string> utf8;
  for (const std::string& c : hanzi) utf8.push_back(GbkToUtf8(c));
  std::int64_t tried = 0, misread = 0;
  std::string firstMisread;
  for (std::size_t i = 0; i < utf8.size() * utf8.size(); i += 37) {
    const std::string name = utf8[i / utf8.size()] + utf8[i % utf8.size()];
    const std::string file = "[" + name + "]\r\nappkey=23456789\r\n";
    ++tried;
    if (LocalFileText(file) == file) continue;
    ++misread;
    if (firstMisread.empty()) firstMisread = name;
  }
  EXPECT_GT(tried, 1000000);
  EXPECT_EQ(misread, 0) << "first: " << firstMisread;
}

// Unmarked: real UTF-8 Chinese, short and long, stays UTF-8 and its GBK
// stays GBK; two-byte sequences alone are GBK (木木 is "ľľ" in UTF-8).
TEST(FileEncodingGuess, UnmarkedTextReadsTheWayItWasSaved) {
  for (const std::string utf8 : {"谢谢", "好评返现，欢迎再次光临本店！", "张三\r\n", "欢迎光临😀"}) {
    EXPECT_EQ(DetectFileEncoding(utf8), FileEncoding::Utf8) << utf8;
    EXPECT_EQ(DetectFileEncoding(Utf8ToGbk(utf8)), FileEncoding::Gbk) << utf8;
  }
  EXPECT_EQ(DetectFileEncoding(Utf8ToGbk("木木")), FileEncoding::Gbk);
  // Broken UTF-16 reads with replacement characters, never cut short.
  EXPECT_EQ(LocalFileText(std::string("\xFF\xFE\x00\xD8" "a\0b", 7)), "\xEF\xBF\xBD" "a\xEF\xBF\xBD");
}

}  // namespace
}  // namespace qm
