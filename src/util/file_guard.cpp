#include "util/file_guard.h"

#include "util/file_io.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

std::string ParentDirectory(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

FileEditLock::FileEditLock(const std::string& path) {
  const int fd = ::open(ParentDirectory(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  handle_ = fd;
  // An edit takes milliseconds; a holder that never lets go is not one of ours.
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      held_ = true;
      return;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) return;
    if (std::chrono::steady_clock::now() > limit) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

FileEditLock::~FileEditLock() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));  // releases the lock
}

bool DirectoryWritable(const std::string& dir) { return ::access(dir.c_str(), W_OK | X_OK) == 0; }

std::string ForeignOwnershipProblem(const std::string& path) {
  // What a link names is what the program reads and writes (a link's own mode is always 0777).
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  char mode[16];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  if (st.st_uid != ::geteuid()) {
    return "“" + path + "”属于另一个用户（uid " + std::to_string(st.st_uid) + "，权限 " + mode + "）。";
  }
  // A directory with the sticky bit is still others' to fill; ours never needs it.
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return "“" + path + "”可被其他用户写入（权限 " + mode + "）。";
  }
  return {};
}

std::optional<FileIdentity> IdentityOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

bool IsSymbolicLink(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool SameDirectory(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && S_ISDIR(sa.st_mode) &&
         sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

StreamedReplacement::~StreamedReplacement() {
  if (fd_ >= 0) {
    ::unlink(temp_.c_str());
    CloseTemporary(fd_);
  }
}

bool StreamedReplacement::Open(const std::string& target, std::string* error) {
  target_ = target;
  struct stat st {};
  if (::lstat(target.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) {
      *error = "“" + target + "”是符号链接，不会写入。";
      return false;
    }
    if (!S_ISREG(st.st_mode)) {
      *error = "“" + target + "”不是普通文件。";
      return false;
    }
    mode_ = st.st_mode & 0777;
  } else {
    const mode_t mask = ::umask(022);
    ::umask(mask);
    mode_ = 0644 & ~mask;
  }
  fd_ = MakeTemporaryBeside(target, &temp_);
  if (fd_ < 0) {
    *error = "“" + target + "”无法写入。";
    return false;
  }
  ok_ = ::fchmod(fd_, static_cast<mode_t>(mode_)) == 0;
  return true;
}

bool StreamedReplacement::Write(const std::string& bytes) {
  ok_ = ok_ && fd_ >= 0 && WriteAll(fd_, bytes);
  return ok_;
}

bool StreamedReplacement::Commit() {
  if (fd_ < 0) return false;
  // The target may have turned into a link since Open; rename replaces the
  // link itself, never the file it names.
  const bool ok = ok_ && ::fsync(fd_) == 0 && ::rename(temp_.c_str(), target_.c_str()) == 0;
  if (!ok) ::unlink(temp_.c_str());
  CloseTemporary(fd_);
  fd_ = -1;
  if (!ok) return false;
  const int dfd = ::open(ParentDirectory(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

}  // namespace qm
