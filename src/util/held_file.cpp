#include "util/held_file.h"

#include "util/file_io.h"

#include <cerrno>
#include <map>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {
namespace {

// The files held so far, by path, with the process that holds them (a child
// made by fork() inherits the table but is not the holder). The descriptors
// are never closed: the process end releases them and their locks. One table
// for the process, because record locks belong to the process: a second
// holder in the same process would not be refused by the system.
struct Held {
  int fd;
  pid_t owner;
};
std::mutex& HeldMutex() {
  static std::mutex m;
  return m;
}
std::map<std::string, Held>& HeldFiles() {
  static auto* files = new std::map<std::string, Held>();
  return *files;
}

bool ReadAll(int fd, std::string* bytes) {
  bytes->clear();
  if (::lseek(fd, 0, SEEK_SET) != 0) return false;
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      bytes->clear();
      return false;
    }
    if (n == 0) return true;
    bytes->append(buffer, static_cast<std::size_t>(n));
  }
}

// Makes the file with its content when it does not exist. The content goes to
// a temporary file first, which is then linked under the final name, so no
// other process can open the file while it is still empty. False only when
// the file is still missing afterwards.
bool CreateWithContent(const std::string& path, const std::string& initial) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) return true;
  if (errno != ENOENT) return true;  // let the open report what is wrong
  std::string temp;
  const int fd = MakeTemporaryBeside(path, &temp);
  if (fd >= 0) {
    bool ok = WriteAll(fd, initial) && ::fsync(fd) == 0;
    if (ok && ::link(temp.c_str(), path.c_str()) != 0 && errno != EEXIST) ok = false;
    ::unlink(temp.c_str());
    ::close(fd);
    if (ok) return true;
  }
  // Where no temporary file or hard link can be made, create it in place.
  const int direct = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (direct < 0) return errno == EEXIST;
  const bool ok = WriteAll(direct, initial);
  ::close(direct);
  if (!ok) ::unlink(path.c_str());
  return ok;
}

// Takes the lock of an open regular file without waiting. On anything but
// Ok the descriptor is closed; *st describes the file on Ok.
HeldFileStatus LockOpenFile(int fd, struct stat* st) {
  if (::fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
    ::close(fd);
    return HeldFileStatus::Failed;
  }
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return HeldFileStatus::Ok;
  const bool busy = errno == EWOULDBLOCK;
  ::close(fd);
  return busy ? HeldFileStatus::Busy : HeldFileStatus::Failed;
}

}  // namespace

bool CreateFileWithContent(const std::string& path, const std::string& initial) {
  return !path.empty() && CreateWithContent(path, initial);
}

HeldFileStatus HoldFileExclusively(const std::string& path, const std::string& initial, std::string* bytes) {
  bytes->clear();
  if (path.empty()) return HeldFileStatus::Failed;
  std::lock_guard<std::mutex> lock(HeldMutex());
  auto held = HeldFiles().find(path);
  if (held != HeldFiles().end() && held->second.owner == ::getpid()) {
    return ReadAll(held->second.fd, bytes) ? HeldFileStatus::Ok : HeldFileStatus::Failed;
  }
  // A holder that removed the file between our open and our lock leaves us
  // locking a name no one else will find: open the file again then.
  int fd = -1;
  for (int attempt = 0;; ++attempt) {
    if (!CreateWithContent(path, initial)) return HeldFileStatus::Failed;
    do {
      fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return HeldFileStatus::Failed;
    struct stat st {};
    if (const HeldFileStatus locked = LockOpenFile(fd, &st); locked != HeldFileStatus::Ok) return locked;
    struct stat named {};
    if (::stat(path.c_str(), &named) == 0 && named.st_dev == st.st_dev && named.st_ino == st.st_ino) break;
    ::close(fd);
    if (attempt >= 3) return HeldFileStatus::Failed;
  }
  if (!ReadAll(fd, bytes)) {
    ::close(fd);
    return HeldFileStatus::Failed;
  }
  HeldFiles()[path] = Held{fd, ::getpid()};
  return HeldFileStatus::Ok;
}

HeldFileStatus WithFileUnheld(const std::string& path, const std::function<void()>& work) {
  if (path.empty()) return HeldFileStatus::Failed;
  std::lock_guard<std::mutex> lock(HeldMutex());
  auto held = HeldFiles().find(path);
  if (held != HeldFiles().end() && held->second.owner == ::getpid()) return HeldFileStatus::Busy;
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (errno != ENOENT) return HeldFileStatus::Failed;
    work();
    return HeldFileStatus::Ok;
  }
  struct stat st {};
  if (const HeldFileStatus locked = LockOpenFile(fd, &st); locked != HeldFileStatus::Ok) return locked;
  work();
  ::close(fd);  // and with it the lock
  return HeldFileStatus::Ok;
}

}  // namespace qm
