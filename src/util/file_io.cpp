#include "util/file_io.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string_view>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

namespace {

constexpr const char* kTemporaryMark = ".tmp-";

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The file a path names, following symbolic links; empty when a link dangles.
std::string ResolveTarget(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) return {};
  return resolved;
}

}  // namespace

FileReadStatus CheckReadableFile(const std::string& path, std::size_t limit) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    return (errno == ENOENT || errno == ENOTDIR) ? FileReadStatus::Missing : FileReadStatus::Failed;
  }
  if (!S_ISREG(st.st_mode)) return FileReadStatus::NotRegular;
  if (static_cast<std::uint64_t>(st.st_size) > limit) return FileReadStatus::TooLarge;
  return ::access(path.c_str(), R_OK) == 0 ? FileReadStatus::Ok : FileReadStatus::Failed;
}

FileReadStatus ReadWholeFile(const std::string& path, std::string* bytes, std::size_t limit) {
  bytes->clear();
  int fd;
  // Without O_NONBLOCK, opening a FIFO waits for a writer, for ever.
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return (errno == ENOENT || errno == ENOTDIR) ? FileReadStatus::Missing : FileReadStatus::Failed;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return FileReadStatus::Failed;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return FileReadStatus::NotRegular;
  }
  if (static_cast<std::uint64_t>(st.st_size) > limit) {
    ::close(fd);
    return FileReadStatus::TooLarge;
  }
  bytes->reserve(static_cast<std::size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      bytes->clear();
      return FileReadStatus::Failed;
    }
    if (n == 0) break;
    bytes->append(buffer, static_cast<std::size_t>(n));
    // A file that grows while it is read counts as what it became.
    if (bytes->size() > limit) {
      ::close(fd);
      bytes->clear();
      return FileReadStatus::TooLarge;
    }
  }
  ::close(fd);
  return FileReadStatus::Ok;
}

int MakeTemporaryBeside(const std::string& target, std::string* name) {
  const std::string dir = DirectoryOf(target);
  const std::size_t slash = target.find_last_of('/');
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string pattern = (dir == "/" ? "" : dir) + "/." + base + kTemporaryMark + "XXXXXX";
  if (slash == std::string::npos) pattern = "." + base + kTemporaryMark + "XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  const int fd = ::mkostemp(buffer.data(), O_CLOEXEC);  // mode 0600
  if (fd < 0) return -1;
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    ::unlink(buffer.data());
    ::close(fd);
    return -1;
  }
  *name = buffer.data();
  return fd;
}

void CloseTemporary(int fd) {
  if (fd >= 0) ::close(fd);
}

int RemoveStrayTemporaries(const std::string& dir) {
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (d == nullptr) return 0;
  std::vector<std::string> temporaries, companions;
  while (const dirent* entry = ::readdir(d)) {
    const std::string_view n = entry->d_name;
    if (n.size() < 2 || n[0] != '.') continue;
    const std::size_t mark = n.rfind(kTemporaryMark);
    if (mark == std::string_view::npos) continue;
    const std::size_t tail = mark + std::string_view(kTemporaryMark).size();
    if (n.size() == tail + 6) {
      temporaries.emplace_back(n);
    } else if (n.size() > tail + 6 && n[tail + 6] == '-') {
      companions.emplace_back(n);  // "-journal", "-wal", "-shm"
    }
  }
  ::closedir(d);
  const std::string prefix = dir.empty() ? std::string() : dir + "/";
  int removed = 0;
  for (const std::string& n : temporaries) {
    const std::string path = prefix + n;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) continue;
    struct stat st {};
    // Its writer holds the lock while it lives. A fresh one may be between
    // its making and its locking by another process: only older ones count.
    const bool old = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_mtime < std::time(nullptr) - kStrayTemporaryAgeSeconds;
    const bool stray = old && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (stray && ::unlink(path.c_str()) == 0) ++removed;
    ::close(fd);
  }
  for (const std::string& n : companions) {
    const std::string owner = prefix + n.substr(0, n.rfind(kTemporaryMark) + std::string_view(kTemporaryMark).size() + 6);
    struct stat st {};
    if (::lstat(owner.c_str(), &st) == 0) continue;  // its temporary is still being written
    if (::unlink((prefix + n).c_str()) == 0) ++removed;
  }
  return removed;
}

bool ReplaceFileAtomically(const std::string& path, const std::string& bytes) {
  if (path.empty()) return false;
  const std::string target = ResolveTarget(path);
  if (target.empty()) return false;
  struct stat existing {};
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  if (exists && !S_ISREG(existing.st_mode)) return false;

  const std::string dir = DirectoryOf(target);
  std::string temp;
  const int fd = MakeTemporaryBeside(target, &temp);
  if (fd < 0) return false;

  // Renamed while still locked, so no cleaner can take it for a stray.
  const bool ok = WriteAll(fd, bytes) && ::fsync(fd) == 0 && ::rename(temp.c_str(), target.c_str()) == 0;
  ::close(fd);
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  // Make the rename itself durable.
  const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

}  // namespace qm
