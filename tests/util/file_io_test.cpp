// Whole-file reads of files that are not what they seem, and the temporary
// files of writers that were killed.
#include "util/file_io.h"

#include <gtest/gtest.h>

#include <chrono>

#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temp_dir.h"

namespace qm {
namespace {

using test::TempDir;

std::vector<std::string> Names(const TempDir& dir) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

TEST(FileIo, FifosDirectoriesAndHugeFilesAreRefusedWithoutWaitingOrReading) {
  TempDir dir;
  const std::string fifo = dir.File("Config.ini");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string bytes = "left over";
  // Opening a FIFO for reading would wait for a writer for ever.
  EXPECT_EQ(ReadWholeFile(fifo, &bytes), FileReadStatus::NotRegular);
  EXPECT_TRUE(bytes.empty());
  EXPECT_EQ(CheckReadableFile(fifo), FileReadStatus::NotRegular);
  EXPECT_EQ(ReadWholeFile(dir.str(), &bytes), FileReadStatus::NotRegular);
  EXPECT_FALSE(ReplaceFileAtomically(fifo, "x"));

  const std::string big = dir.File("big.ini");
  ASSERT_TRUE(test::WriteFileBytes(big, std::string(kSettingsFileLimit + 1, 'a')));
  EXPECT_EQ(ReadWholeFile(big, &bytes), FileReadStatus::TooLarge);
  EXPECT_EQ(CheckReadableFile(big), FileReadStatus::TooLarge);
  EXPECT_EQ(ReadWholeFile(big, &bytes, kSettingsFileLimit + 1), FileReadStatus::Ok);
  EXPECT_EQ(bytes.size(), kSettingsFileLimit + 1);
  EXPECT_EQ(CheckReadableFile(dir.File("missing")), FileReadStatus::Missing);
}

TEST(FileIo, ReplacedFilesAreTheOwnersAloneAndKilledWritersLeaveNothingAfterTheNextStart) {
  TempDir dir;
  const std::string config = dir.File("Config.ini");
  ASSERT_TRUE(test::WriteFileBytes(config, "[a]\r\n"));
  ASSERT_EQ(::chmod(config.c_str(), 0644), 0);
  ASSERT_TRUE(ReplaceFileAtomically(config, "[b]\r\nAppSecret=s\r\n"));
  struct stat st {};
  ASSERT_EQ(::stat(config.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // A writer killed half-way leaves its temporary (and SQLite's journal of it).
  const pid_t child = ::fork();
  if (child == 0) {
    std::string name;
    const int fd = MakeTemporaryBeside(dir.File("seller.MDB"), &name);
    const int journal = ::open((name + "-journal").c_str(), O_CREAT | O_WRONLY, 0600);
    ::_exit(fd >= 0 && journal >= 0 && ::write(fd, "half", 4) == 4 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_EQ(WEXITSTATUS(status), 0);
  // A writer at work keeps its own.
  std::string live;
  const int fd = MakeTemporaryBeside(config, &live);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(test::WriteFileBytes(dir.File(".hidden.tmp-notours"), "user's"));
  ASSERT_EQ(Names(dir).size(), 5u);
  // A fresh temporary may be between its making and its locking by another
  // process: only those a minute old or more count as strays.
  EXPECT_EQ(RemoveStrayTemporaries(dir.str()), 0);
  auto age = [&] {
    for (const auto& entry : std::filesystem::directory_iterator(dir.str()))
      std::filesystem::last_write_time(entry.path(), std::filesystem::file_time_type::clock::now() - std::chrono::minutes(2));
  };
  age();
  EXPECT_EQ(RemoveStrayTemporaries(dir.str()), 2);
  const std::vector<std::string> left = Names(dir);
  EXPECT_EQ(left, (std::vector<std::string>{std::filesystem::path(live).filename().string(), ".hidden.tmp-notours",
                                            "Config.ini"}));
  ::close(fd);
  age();
  EXPECT_EQ(RemoveStrayTemporaries(dir.str()), 1);
}

}  // namespace
}  // namespace qm
