#include "settings/profile.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "settings/profile_document.h"
#include "support/temp_dir.h"
#include "util/file_io.h"
#include "util/file_text.h"
#include "util/text_codec.h"

namespace qm {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

// A file as the Windows original leaves it: GBK, CRLF, blanks around '=',
// quoted values, comments, a section repeated under another case.
std::string WindowsFile() {
  return Utf8ToGbk(
      "; 淘宝 seller settings\r\n"
      "[卖家一]\r\n"
      "appkey = 12345678 \r\n"
      "AppSecret=\"  secret with blanks  \"\r\n"
      "评价时间='36.5'\r\n"
      "\r\n"
      "[Seller2]\r\n"
      "APPKEY=first\r\n"
      "appkey=second\r\n"
      "note=\"unbalanced'\r\n"
      "[seller2]\r\n"
      "SessionKey=hidden-by-the-first-section\r\n");
}

class ProfileFiles : public ::testing::Test {
 protected:
  TempDir dir;
  std::string path = dir.File("Config.ini");
};

TEST_F(ProfileFiles, ReadsAFileWrittenTheWindowsWay) {
  ASSERT_TRUE(WriteFileBytes(path, WindowsFile()));
  EXPECT_EQ(ReadProfileString(path, "卖家一", "appkey"), "12345678");
  EXPECT_EQ(ReadProfileString(path, "卖家一", "AppSecret"), "  secret with blanks  ");
  EXPECT_EQ(ReadProfileString(path, "卖家一", "评价时间"), "36.5");
  // Names without regard to case; the first match wins.
  EXPECT_EQ(ReadProfileString(path, "SELLER2", "AppKey"), "first");
  EXPECT_EQ(ReadProfileString(path, "seller2", "note"), "\"unbalanced'");
  // A key that only a later section of the same name holds is not found.
  EXPECT_EQ(ReadProfileString(path, "seller2", "SessionKey"), "");
  // Names are trimmed as in the file.
  EXPECT_EQ(ReadProfileString(path, "  卖家一 ", " appkey "), "12345678");
}

TEST_F(ProfileFiles, MissingOrEmptyNamesReadAsEmptyText) {
  ASSERT_TRUE(WriteFileBytes(path, WindowsFile()));
  EXPECT_EQ(ReadProfileString(dir.File("nope.ini"), "卖家一", "appkey"), "");
  EXPECT_EQ(ReadProfileString(path, "nobody", "appkey"), "");
  EXPECT_EQ(ReadProfileString(path, "卖家一", "nokey"), "");
  EXPECT_EQ(ReadProfileString("", "卖家一", "appkey"), "");
  EXPECT_EQ(ReadProfileString(path, "", "appkey"), "");
  EXPECT_EQ(ReadProfileString(path, "卖家一", ""), "");
  // The comment line is no key, even when asked for by its text.
  EXPECT_EQ(ReadProfileString(path, "卖家一", "; 淘宝 seller settings"), "");
  EXPECT_EQ(ReadProfileString(dir.str(), "卖家一", "appkey"), "");  // a directory
}

TEST_F(ProfileFiles, LfFileKeepsCommentsOrderAndBreaksOnWrite) {
  const std::string before =
      "# header\n[a]\nx=1\n; about y\ny=2\n\n; section b follows\n[b]\nz=3";
  ASSERT_TRUE(WriteFileBytes(path, before));
  ASSERT_TRUE(WriteProfileString(path, "A", "Y", "20"));  // replaced in place
  ASSERT_TRUE(WriteProfileString(path, "a", "new", "n"));  // after the last key of [a]
  ASSERT_TRUE(WriteProfileString(path, "b", "w", "4"));    // the last line had no break
  ASSERT_TRUE(WriteProfileString(path, "c", "k", "v"));    // a new section at the end
  EXPECT_EQ(ReadFileBytes(path),
            "# header\n[a]\nx=1\n; about y\nY=20\nnew=n\n\n; section b follows\n[b]\nz=3\nw=4\n"
            "[c]\nk=v\n");
}

TEST_F(ProfileFiles, CrLfFileGetsCrLfLinesAndGbkBytes) {
  ASSERT_TRUE(WriteFileBytes(path, WindowsFile()));
  ASSERT_TRUE(WriteProfileString(path, "卖家一", "SessionKey", "6102abc"));
  ASSERT_TRUE(WriteProfileString(path, "新卖家", "appkey", "中文值"));
  const std::string bytes = ReadFileBytes(path);
  EXPECT_NE(bytes.find(Utf8ToGbk("'36.5'\r\nSessionKey=6102abc\r\n\r\n[Seller2]")), std::string::npos);
  EXPECT_NE(bytes.find(Utf8ToGbk("[新卖家]\r\nappkey=中文值\r\n")), std::string::npos);
  EXPECT_EQ(bytes.find("\xE6"), std::string::npos);  // no UTF-8 lead bytes of CJK on disk
  EXPECT_EQ(ReadProfileString(path, "新卖家", "appkey"), "中文值");
}

TEST_F(ProfileFiles, WritesToRepeatedSectionsAndKeysGoToTheFirst) {
  ASSERT_TRUE(WriteFileBytes(path, WindowsFile()));
  ASSERT_TRUE(WriteProfileString(path, "seller2", "appkey", "changed"));
  EXPECT_EQ(ReadProfileString(path, "Seller2", "APPKEY"), "changed");
  const std::string text = GbkToUtf8(ReadFileBytes(path));
  EXPECT_NE(text.find("appkey=changed\r\nappkey=second\r\n"), std::string::npos);
}

TEST_F(ProfileFiles, NewFileIsCrLfAndPrivateToItsOwner) {
  ASSERT_TRUE(WriteProfileString(path, "卖家", "AppSecret", "s3cret"));
  EXPECT_EQ(ReadFileBytes(path), Utf8ToGbk("[卖家]\r\nAppSecret=s3cret\r\n"));
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(ProfileFiles, SymbolicLinksSurviveAReplaceAndAnOpenModeIsTightened) {
  const std::string real = dir.File("real.ini");
  ASSERT_TRUE(WriteFileBytes(real, "[s]\r\nk=1\r\n"));
  ASSERT_EQ(::chmod(real.c_str(), 0644), 0);
  std::filesystem::create_symlink(real, path);
  ASSERT_TRUE(WriteProfileString(path, "s", "k", "2"));
  EXPECT_TRUE(std::filesystem::is_symlink(path));
  EXPECT_EQ(ReadFileBytes(real), "[s]\r\nk=2\r\n");
  struct stat st {};
  ASSERT_EQ(::stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);  // it holds the seller's secrets
  // Nothing is left beside the file.
  int entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 2);
}

TEST_F(ProfileFiles, ValuesThatAReadWouldAlterAreQuotedAndReadBackExactly) {
  for (const std::string value : {"  padded  ", "\"quoted\"", "'single'", "\"\"", "\"", " ", "a=b=c",
                                  "[not a section]", "; not a comment", ""}) {
    ASSERT_TRUE(WriteProfileString(path, "s", "k", value)) << value;
    EXPECT_EQ(ReadProfileString(path, "s", "k"), value);
  }
}

TEST_F(ProfileFiles, CorruptingWritesAreRefusedAndLeaveTheFileAlone) {
  ASSERT_TRUE(WriteFileBytes(path, WindowsFile()));
  const std::string before = ReadFileBytes(path);
  const std::string nul("a\0b", 3);
  for (const std::string& name : std::vector<std::string>{"a]b", "a=b", "a\nb", "a\rb", nul, "[a", ";a", "", "   ", "\xFF"}) {
    EXPECT_FALSE(WriteProfileString(path, name, "k", "v")) << name;
    EXPECT_FALSE(WriteProfileString(path, "s", name, "v")) << name;
  }
  for (const std::string& value : std::vector<std::string>{"line\nbreak", "cr\rhere", nul, "bad\xC0\x80utf8",
                                  "emoji \xF0\x9F\x98\x80"}) {
    EXPECT_FALSE(WriteProfileString(path, "s", "k", value)) << value;
  }
  EXPECT_FALSE(WriteProfileString("", "s", "k", "v"));
  EXPECT_EQ(ReadFileBytes(path), before);
}

TEST_F(ProfileFiles, UnreadableOrForeignFilesAreNeverOverwritten) {
  const std::string utf32 = std::string("\xFF\xFE\0\0[\0\0\0", 8);
  ASSERT_TRUE(WriteFileBytes(path, utf32));
  EXPECT_FALSE(WriteProfileString(path, "s", "k", "v"));
  EXPECT_EQ(ReadFileBytes(path), utf32);
  // UTF-16 cut in the middle of a character: read, never rewritten.
  const std::string cut = EncodeFileText("[s]\r\nk=值\r\n", FileEncoding::Utf16Le) + "x";
  ASSERT_TRUE(WriteFileBytes(path, cut));
  EXPECT_EQ(ReadProfileString(path, "s", "k"), "值");
  EXPECT_FALSE(WriteProfileString(path, "s", "k", "v"));
  EXPECT_TRUE(DeleteProfileKey(path, "s", "k"));
  EXPECT_EQ(ReadFileBytes(path), cut);
  // Over the size limit: refused, never taken for an empty file and rewritten.
  const std::string large = "[s]\r\nk=old\r\n" + std::string(kSettingsFileLimit, ';');
  ASSERT_TRUE(WriteFileBytes(path, large));
  EXPECT_FALSE(WriteProfileString(path, "s", "k", "v"));
  EXPECT_FALSE(DeleteProfileKey(path, "s", "k"));
  EXPECT_EQ(ReadFileBytes(path).size(), large.size());
  // A directory where the file should be.
  EXPECT_FALSE(WriteProfileString(dir.str(), "s", "k", "v"));
  // A folder that does not exist.
  EXPECT_FALSE(WriteProfileString(dir.File("missing/Config.ini"), "s", "k", "v"));
}

TEST_F(ProfileFiles, Utf8FileWithByteOrderMarkStaysUtf8) {
  ASSERT_TRUE(WriteFileBytes(path, "\xEF\xBB\xBF[卖家]\r\nappkey=一\r\n"));
  EXPECT_EQ(ReadProfileString(path, "卖家", "appkey"), "一");
  EXPECT_EQ(ProfileSectionNames(path), std::vector<std::string>{"卖家"});
  ASSERT_TRUE(WriteProfileString(path, "卖家", "note", "emoji \xF0\x9F\x98\x80 fits here"));
  EXPECT_EQ(ReadFileBytes(path), "\xEF\xBB\xBF[卖家]\r\nappkey=一\r\nnote=emoji \xF0\x9F\x98\x80 fits here\r\n");
}

// Saved in a UTF-8 editor without a mark: read as UTF-8 (the account list is
// there) and written back so; GBK text, which is almost never valid UTF-8,
// stays GBK.
TEST_F(ProfileFiles, Utf8FileWithoutAMarkIsReadAndWrittenAsUtf8) {
  ASSERT_TRUE(WriteFileBytes(path, "[卖家]\nappkey=一\n"));
  EXPECT_EQ(ProfileSectionNames(path), std::vector<std::string>{"卖家"});
  EXPECT_EQ(ReadProfileString(path, "卖家", "appkey"), "一");
  ASSERT_TRUE(WriteProfileString(path, "卖家", "AppSecret", "二"));
  EXPECT_EQ(ReadFileBytes(path), "[卖家]\nappkey=一\nAppSecret=二\n");
  ASSERT_TRUE(WriteFileBytes(path, Utf8ToGbk("[卖家]\nappkey=一\n")));
  ASSERT_TRUE(WriteProfileString(path, "卖家", "AppSecret", "二"));
  EXPECT_EQ(ReadFileBytes(path), Utf8ToGbk("[卖家]\nappkey=一\nAppSecret=二\n"));

  // 木木 in GBK is valid UTF-8, but of two-byte characters only: still GBK.
  ASSERT_TRUE(WriteFileBytes(path, Utf8ToGbk("[木木]\nappkey=k\n")));
  EXPECT_EQ(ProfileSectionNames(path), std::vector<std::string>{"木木"});
  // 浣犲ソ in GBK is the UTF-8 of 你好: once the value that was not UTF-8 is
  // replaced, the file would read back as UTF-8 unless the write marks it.
  ASSERT_TRUE(WriteFileBytes(path, Utf8ToGbk("[浣犲ソ]\nappkey=旧\n")));
  ASSERT_TRUE(WriteProfileString(path, "浣犲ソ", "appkey", "k"));
  EXPECT_EQ(ProfileSectionNames(path), std::vector<std::string>{"浣犲ソ"});
  EXPECT_EQ(ReadProfileString(path, "浣犲ソ", "appkey"), "k");
}

// Notepad's "Unicode" (UTF-16 LE) and "Unicode big endian": read, and
// written back in the same encoding with its mark; lines not edited stay.
TEST_F(ProfileFiles, Utf16FilesAreReadAndWrittenAsUtf16) {
  for (FileEncoding e : {FileEncoding::Utf16Le, FileEncoding::Utf16Be}) {
    ASSERT_TRUE(WriteFileBytes(path, EncodeFileText("; 备注\r\n[卖家]\r\nappkey = \"一\"\r\n[Other]\r\nk=v\r\n", e)));
    EXPECT_EQ(ProfileSectionNames(path), (std::vector<std::string>{"卖家", "Other"}));
    EXPECT_EQ(ReadProfileString(path, "卖家", "APPKEY"), "一");
    ASSERT_TRUE(WriteProfileString(path, "卖家", "AppSecret", "二😀"));
    ASSERT_TRUE(DeleteProfileKey(path, "other", "k"));
    ASSERT_TRUE(WriteProfileString(path, "新", "k", "三"));
    EXPECT_EQ(ReadFileBytes(path),
              EncodeFileText("; 备注\r\n[卖家]\r\nappkey = \"一\"\r\nAppSecret=二😀\r\n[Other]\r\n[新]\r\nk=三\r\n", e));
    ASSERT_TRUE(DeleteProfileSection(path, "卖家"));
    EXPECT_EQ(ProfileSectionNames(path), (std::vector<std::string>{"Other", "新"}));
    EXPECT_EQ(DetectFileEncoding(ReadFileBytes(path)), e);
  }
}

// A GBK file whose names happen to be valid UTF-8 stays GBK, also after an
// edit; a UTF-8 file without a mark stays readable as UTF-8 after one.
TEST_F(ProfileFiles, EditsKeepAFileInTheEncodingItWasReadIn) {
  ASSERT_TRUE(WriteFileBytes(path, Utf8ToGbk("[皓辰]\r\nappkey=k\r\n")));
  ASSERT_TRUE(IsValidUtf8(ReadFileBytes(path)));
  EXPECT_EQ(ProfileSectionNames(path), std::vector<std::string>{"皓辰"});
  ASSERT_TRUE(WriteProfileString(path, "皓辰", "AppSecret", "s"));
  EXPECT_EQ(ReadFileBytes(path), Utf8ToGbk("[皓辰]\r\nappkey=k\r\nAppSecret=s\r\n"));
  ASSERT_TRUE(WriteFileBytes(path, "[谢谢]\nk=你好\n"));
  ASSERT_TRUE(WriteProfileString(path, "谢谢", "k", "v"));
  EXPECT_EQ(ProfileSectionNames(path), std::vector<std::string>{"谢谢"});
  EXPECT_EQ(ReadProfileString(path, "谢谢", "k"), "v");
}

TEST_F(ProfileFiles, GbkTrailBytesThatLookLikeSyntaxDoNotSplitNames) {
  // 乚 is 81 5D in GBK: its second byte is ']'.
  ASSERT_TRUE(WriteProfileString(path, "乚乚", "key乚", "value乚"));
  EXPECT_EQ(ReadFileBytes(path), "[\x81\x5D\x81\x5D]\r\nkey\x81\x5D=value\x81\x5D\r\n");
  EXPECT_EQ(ReadProfileString(path, "乚乚", "key乚"), "value乚");
  EXPECT_EQ(ProfileSectionNames(path), std::vector<std::string>{"乚乚"});
}

TEST_F(ProfileFiles, ReadsStopAtTheValueLimitOnACharacterBoundary) {
  ASSERT_TRUE(WriteProfileString(path, "s", "ascii", std::string(12000, 'a')));
  EXPECT_EQ(ReadProfileString(path, "s", "ascii"), std::string(kProfileValueLimit, 'a'));
  std::string wide;
  for (int i = 0; i < 6000; ++i) wide += "评";  // two bytes each on disk
  ASSERT_TRUE(WriteProfileString(path, "s", "wide", wide));
  const std::string read = ReadProfileString(path, "s", "wide");
  EXPECT_EQ(read.size(), (kProfileValueLimit / 2) * 3);  // 5119 whole characters
  EXPECT_TRUE(IsValidUtf8(read));
  ASSERT_TRUE(WriteProfileString(path, "s", "exact", std::string(kProfileValueLimit, 'b')));
  EXPECT_EQ(ReadProfileString(path, "s", "exact").size(), kProfileValueLimit);
}

TEST_F(ProfileFiles, SectionNamesInFileOrderOnceEachWithinTheListLimit) {
  ASSERT_TRUE(WriteFileBytes(path, WindowsFile() + "[]\r\n[  third ]\r\n"));
  EXPECT_EQ(ProfileSectionNames(path), (std::vector<std::string>{"卖家一", "Seller2", "third"}));
  EXPECT_TRUE(ProfileSectionNames(dir.File("none.ini")).empty());
  EXPECT_TRUE(ProfileSectionNames("").empty());

  // 30000 names of 9 bytes (8 + the zero): 22755 fit in 204800 bytes with the final zero.
  std::string many;
  for (int i = 0; i < 30000; ++i) many += "[n" + std::to_string(1000000 + i) + "]\n";
  ASSERT_TRUE(WriteFileBytes(path, many));
  const auto names = ProfileSectionNames(path);
  EXPECT_EQ(names.size(), (kProfileSectionListLimit - 1) / 9);
  EXPECT_EQ(names.front(), "n1000000");
}

TEST_F(ProfileFiles, DeleteRemovesOnlyTheFirstMatch) {
  ASSERT_TRUE(WriteFileBytes(path, "[s]\nk=1\nK=2\nlast=x"));
  EXPECT_TRUE(DeleteProfileKey(path, "S", "k"));
  EXPECT_EQ(ReadProfileString(path, "s", "k"), "2");
  EXPECT_TRUE(DeleteProfileKey(path, "s", "last"));
  EXPECT_EQ(ReadFileBytes(path), "[s]\nK=2");
  EXPECT_TRUE(DeleteProfileKey(path, "s", "absent"));
  EXPECT_TRUE(DeleteProfileKey(dir.File("none.ini"), "s", "k"));
  EXPECT_FALSE(std::filesystem::exists(dir.File("none.ini")));
}

// A section that repeats goes whole, so no later one takes its place; the
// file keeps its way of ending.
TEST_F(ProfileFiles, DeleteSectionRemovesEverySpellingOfIt) {
  ASSERT_TRUE(WriteFileBytes(path, "[Shop]\nk=1\n\n[other]\nk=2\n[shop]\nk=3"));
  EXPECT_TRUE(DeleteProfileSection(path, "SHOP"));
  EXPECT_EQ(ReadFileBytes(path), "[other]\nk=2");
  EXPECT_EQ(ReadProfileString(path, "shop", "k"), "");
  EXPECT_TRUE(DeleteProfileSection(path, "absent"));
  EXPECT_EQ(ReadFileBytes(path), "[other]\nk=2");
}

// "s" + std::to_string(n) trips a false -Wrestrict of GCC 12 at -O3.
std::string Numbered(char prefix, int n) {
  std::string name(1, prefix);
  name.append(std::to_string(n));
  return name;
}

TEST_F(ProfileFiles, ConcurrentWritersLoseNoKey) {
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i) {
        WriteProfileString(path, Numbered('s', t), Numbered('k', i), std::to_string(i));
      }
    });
  }
  for (auto& w : writers) w.join();
  for (int t = 0; t < 4; ++t) {
    for (int i = 0; i < 25; ++i) {
      EXPECT_EQ(ReadProfileString(path, Numbered('s', t), Numbered('k', i)),
                std::to_string(i));
    }
  }
}

// A writer process is killed at arbitrary moments; the file must always hold
// one whole version, never a torn mix.
TEST_F(ProfileFiles, KilledWriterNeverLeavesATornFile) {
  const std::string a(400000, 'a');
  const std::string b(400000, 'b');
  ASSERT_TRUE(WriteProfileString(path, "s", "v", a));
  ASSERT_TRUE(WriteProfileString(path, "s", "tail", "end"));
  const std::string fileA = ReadFileBytes(path);
  for (int round = 0; round < 8; ++round) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (long i = 0;; ++i) WriteProfileString(path, "s", "v", (i % 2) ? a : b);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + 7 * round));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    const std::string bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), fileA.size()) << "round " << round;
    const std::string value = ProfileDocument::Parse(bytes).Get("s", "v", 1u << 30).value_or("");
    EXPECT_TRUE(value == a || value == b) << "round " << round;
    EXPECT_EQ(ReadProfileString(path, "s", "tail"), "end");
  }
}

TEST(ProfileDocumentBytes, ParsingAndSerialisingKeepsAnyInputExactly) {
  const std::vector<std::string> inputs = {
      "", "\n", "\r\n\r\n", "no breaks at all", "[s]\r\nk=v\nmixed=breaks\r\n", "[s\nk=v\n",
      std::string("[s]\n\0=\0\n", 8), "\xEF\xBB\xBF[s]\nk=v", "[a]b]\nk==v\n  =x\n\xFF\xFE\x81\n",
      std::string("\xFF\xFE[\0s\0]\0\n\0", 10), std::string("\xFE\xFF\0[\0s\xD8\0", 8), "\xFF\xFE[",
      "\xFE\xFF"};
  for (const auto& in : inputs) {
    EXPECT_EQ(ProfileDocument::Parse(in).Serialize(), in);
  }
  const auto doc = ProfileDocument::Parse("[a]b]  trailing\nk==v\n  =x\n");
  EXPECT_EQ(doc.SectionNames(), std::vector<std::string>{"a]b"});
  EXPECT_EQ(doc.Get("a]b", "k", 100).value_or("?"), "=v");
  EXPECT_FALSE(doc.Get("a]b", "", 100).has_value());
}

}  // namespace
}  // namespace qm
