// The file layer as Windows sees it: wide names, handles that other openers
// meet, pipes and devices, and the temporaries of writers that are gone.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "util/file_io.h"
#include "util/held_file.h"
#include "util/program_paths.h"
#include "util/wide_path.h"

namespace qm {
namespace {

std::wstring Wide(const std::string& utf8) {
  std::wstring wide;
  EXPECT_TRUE(WidePath(utf8, &wide)) << utf8;
  return wide;
}

// A fresh folder under the temporary one, with a Chinese name, removed with
// its files afterwards.
class WideTempDir {
 public:
  WideTempDir() {
    wchar_t base[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, base);
    std::string root = Utf8Path(base, n);
    if (!root.empty() && (root.back() == '\\' || root.back() == '/')) root.pop_back();
    for (int i = 0;; ++i) {
      path_ = root + "\\卖家 测试-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(i);
      if (CreateDirectoryW(Wide(path_).c_str(), nullptr)) break;
      if (GetLastError() != ERROR_ALREADY_EXISTS) ADD_FAILURE() << "no temporary folder";
    }
  }
  ~WideTempDir() {
    for (const std::wstring& name : WideNames()) DeleteFileW((Wide(path_) + L"\\" + name).c_str());
    RemoveDirectoryW(Wide(path_).c_str());
  }
  const std::string& str() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "\\" + name; }
  // The folder's entries as the system stores them (UTF-16), sorted.
  std::vector<std::wstring> WideNames() const {
    std::vector<std::wstring> out;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((Wide(path_) + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return out;
    do {
      const std::wstring name = found.cFileName;
      if (name != L"." && name != L"..") out.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(out.begin(), out.end());
    return out;
  }

 private:
  std::string path_;
};

std::string ReadBack(const std::string& path) {
  std::string bytes;
  EXPECT_EQ(ReadWholeFile(path, &bytes), FileReadStatus::Ok) << path;
  return bytes;
}

// "卖家" and "评价" in GBK, as the shared files hold them.
const std::string kGbkBytes = "[\xc2\xf4\xbc\xd2]\r\nA=\xc6\xc0\xbc\xdb\r\n";

TEST(WindowsFileLayer, WideNamesKeepTheirBytesAndAReplaceThatCannotHappenLeavesTheTargetAsItWas) {
  WideTempDir dir;
  const std::string ini = dir.File("手动评价内容.ini");
  ASSERT_TRUE(ReplaceFileAtomically(ini, kGbkBytes));
  // The name went to the system as UTF-16, not through the ANSI code page.
  EXPECT_EQ(dir.WideNames(), std::vector<std::wstring>{L"手动评价内容.ini"});
  EXPECT_EQ(ReadBack(ini), kGbkBytes);

  // A read-only file is replaced all the same and ends up writable.
  ASSERT_TRUE(SetFileAttributesW(Wide(ini).c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(ReplaceFileAtomically(ini, "second"));
  EXPECT_EQ(ReadBack(ini), "second");
  EXPECT_EQ(GetFileAttributesW(Wide(ini).c_str()) & FILE_ATTRIBUTE_READONLY, 0u);

  // A reader that does not share deletion keeps the file from being replaced:
  // the call says so, and neither the file nor a temporary is left changed.
  HANDLE reader = CreateFileW(Wide(ini).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(ReplaceFileAtomically(ini, "third"));
  CloseHandle(reader);
  EXPECT_EQ(ReadBack(ini), "second");
  EXPECT_EQ(dir.WideNames(), std::vector<std::wstring>{L"手动评价内容.ini"});
  EXPECT_TRUE(ReplaceFileAtomically(ini, "third"));
  EXPECT_EQ(ReadBack(ini), "third");

  // Names that cannot exist are told apart from files that cannot be read.
  std::string bytes = "left";
  EXPECT_EQ(ReadWholeFile(dir.File("bad\xff.ini"), &bytes), FileReadStatus::Missing);
  EXPECT_TRUE(bytes.empty());
  EXPECT_FALSE(ReplaceFileAtomically(dir.File("bad\xff.ini"), "x"));
  EXPECT_EQ(ReadWholeFile(dir.File("missing.ini"), &bytes), FileReadStatus::Missing);
  EXPECT_EQ(CheckReadableFile(dir.File("no folder\\Config.ini")), FileReadStatus::Missing);
}

TEST(WindowsFileLayer, FoldersPipesAndDevicesAreRefusedWithoutWaitingAndHugeFilesUnread) {
  WideTempDir dir;
  std::string bytes = "left";
  EXPECT_EQ(ReadWholeFile(dir.str(), &bytes), FileReadStatus::NotRegular);
  EXPECT_TRUE(bytes.empty());
  EXPECT_FALSE(ReplaceFileAtomically(dir.str(), "x"));
  EXPECT_EQ(ReadWholeFile("NUL", &bytes), FileReadStatus::NotRegular);

  // A pipe with a server that never writes: reading it would wait for ever.
  const std::string pipe = "\\\\.\\pipe\\quillmere-test-" + std::to_string(GetCurrentProcessId());
  HANDLE server = CreateNamedPipeW(Wide(pipe).c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 2, 512, 512,
                                   0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadWholeFile(pipe, &bytes), FileReadStatus::NotRegular);
  EXPECT_EQ(CheckReadableFile(pipe), FileReadStatus::NotRegular);
  EXPECT_FALSE(ReplaceFileAtomically(pipe, "x"));
  CloseHandle(server);

  const std::string big = dir.File("big.ini");
  ASSERT_TRUE(ReplaceFileAtomically(big, std::string(kSettingsFileLimit + 1, 'a')));
  EXPECT_EQ(ReadWholeFile(big, &bytes), FileReadStatus::TooLarge);
  EXPECT_EQ(CheckReadableFile(big), FileReadStatus::TooLarge);
  EXPECT_EQ(ReadWholeFile(big, &bytes, kSettingsFileLimit + 1), FileReadStatus::Ok);
  EXPECT_EQ(bytes.size(), kSettingsFileLimit + 1);
}

TEST(WindowsFileLayer, TemporariesOfGoneWritersGoAndLiveOnesStayOpenToSqlite) {
  WideTempDir dir;
  // A writer that is gone: its handle closed, its lock with it, its journal left.
  std::string dead;
  const int deadFd = MakeTemporaryBeside(dir.File("卖家.MDB"), &dead);
  ASSERT_GE(deadFd, 0);
  ASSERT_TRUE(WriteAll(deadFd, "half"));
  CloseTemporary(deadFd);
  ASSERT_TRUE(ReplaceFileAtomically(dead + "-journal", "j"));

  std::string live;
  const int liveFd = MakeTemporaryBeside(dir.File("Config.ini"), &live);
  ASSERT_GE(liveFd, 0);
  EXPECT_EQ(live.rfind(dir.File(".Config.ini.tmp-"), 0), 0u) << live;
  // SQLite opens the file it builds in by name, reads and writes it while it is held.
  HANDLE other = CreateFileW(Wide(live).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(other, "SQLite format 3", 15, &written, nullptr));
  CloseHandle(other);
  ASSERT_TRUE(ReplaceFileAtomically(dir.File(".hidden.tmp-notours"), "user's"));
  ASSERT_EQ(dir.WideNames().size(), 4u);
  // A fresh temporary may be another process's between its making and its
  // locking: only those a minute old or more count as strays.
  EXPECT_EQ(RemoveStrayTemporaries(dir.str()), 0);
  const auto ageAll = [&dir] {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t{};
    t.LowPart = now.dwLowDateTime;
    t.HighPart = now.dwHighDateTime;
    t.QuadPart -= 120ULL * 10000000ULL;
    const FILETIME before{t.LowPart, t.HighPart};
    for (const std::wstring& name : dir.WideNames()) {
      HANDLE h = CreateFileW((Wide(dir.str()) + L"\\" + name).c_str(), FILE_WRITE_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
      ASSERT_NE(h, INVALID_HANDLE_VALUE);
      EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &before));
      CloseHandle(h);
    }
  };
  ageAll();

  EXPECT_EQ(RemoveStrayTemporaries(dir.str()), 2);
  const std::vector<std::wstring> left = dir.WideNames();
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[0].rfind(L".Config.ini.tmp-", 0), 0u);
  EXPECT_EQ(left[1], L".hidden.tmp-notours");
  CloseTemporary(liveFd);
  ageAll();
  EXPECT_EQ(RemoveStrayTemporaries(dir.str()), 1);
  EXPECT_EQ(dir.WideNames(), std::vector<std::wstring>{L".hidden.tmp-notours"});
}

TEST(WindowsFileLayer, AHeldFileShutsOutEveryOtherOpenerAndABusyOneIsToldApart) {
  WideTempDir dir;
  const std::string held = dir.File("卖家的自动评价内容.txt");
  std::string bytes;
  ASSERT_EQ(HoldFileExclusively(held, kGbkBytes, &bytes), HeldFileStatus::Ok);
  EXPECT_EQ(bytes, kGbkBytes);
  // Share mode 0: not even a reader that shares everything gets in.
  HANDLE reader = CreateFileW(Wide(held).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(reader, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(ReadWholeFile(held, &bytes), FileReadStatus::Failed);
  EXPECT_FALSE(ReplaceFileAtomically(held, "x"));
  // Holding it again in the same process reads the held file again.
  ASSERT_EQ(HoldFileExclusively(held, "other", &bytes), HeldFileStatus::Ok);
  EXPECT_EQ(bytes, kGbkBytes);

  // A file that another copy of the program holds.
  const std::string theirs = dir.File("other.txt");
  ASSERT_TRUE(ReplaceFileAtomically(theirs, "theirs"));
  HANDLE holder = CreateFileW(Wide(theirs).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  EXPECT_EQ(HoldFileExclusively(theirs, "", &bytes), HeldFileStatus::Busy);
  EXPECT_TRUE(bytes.empty());
  CloseHandle(holder);
  EXPECT_EQ(HoldFileExclusively(dir.str(), "", &bytes), HeldFileStatus::Failed);
  EXPECT_EQ(HoldFileExclusively(dir.File("no folder\\x.txt"), "", &bytes), HeldFileStatus::Failed);
}

TEST(WindowsPaths, TheDataHomeIsTheUsersRoamingFolderAndTheProgramFindsItself) {
  const std::string home = UserDataHome();
  ASSERT_FALSE(home.empty());
  EXPECT_NE(home.back(), '\\');
  const DWORD attributes = GetFileAttributesW(Wide(home).c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  if (const wchar_t* appData = _wgetenv(L"APPDATA")) {
    EXPECT_EQ(CompareStringOrdinal(Wide(home).c_str(), -1, appData, -1, TRUE), CSTR_EQUAL);
  }
  const std::string exeDir = ExecutableDir();
  EXPECT_NE(GetFileAttributesW(Wide(exeDir + "\\test_windows.exe").c_str()), INVALID_FILE_ATTRIBUTES) << exeDir;
}

}  // namespace
}  // namespace qm
