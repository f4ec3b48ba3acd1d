#pragma once
// What guards the files that several processes (or a hostile one) share with
// the program: the lock of a read-modify-write edit, the ownership of the
// data directory, and a replacement written as a stream that never follows
// a link (file_guard.cpp for POSIX, file_guard_windows.cpp for Windows).
#include <cstdint>
#include <optional>
#include <string>

namespace qm {

// Held for the length of a read-modify-write of `path`: a second process
// (or thread) editing a file of the same directory waits for it. The lock is
// on the directory, which the edit's rename never replaces. Held() is false
// when it could not be had within a few seconds (the edit should not go on).
class FileEditLock {
 public:
  explicit FileEditLock(const std::string& path);
  ~FileEditLock();
  FileEditLock(const FileEditLock&) = delete;
  FileEditLock& operator=(const FileEditLock&) = delete;
  bool Held() const { return held_; }

 private:
  std::intptr_t handle_ = -1;
  bool held_ = false;
};

// True when the process may make files in the directory.
bool DirectoryWritable(const std::string& dir);

// Why a directory or file that holds the seller's secrets is not safe to use,
// or the empty text: it belongs to another user, or group or others may write
// it. A link counts as what it names; a missing file is fine. The text
// names the path and its mode.
std::string ForeignOwnershipProblem(const std::string& path);

// Which file a path names now (its device and file number, through links),
// so that a file replaced under an open one is told apart; none when the
// path names nothing.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t file = 0;
  bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> IdentityOf(const std::string& path);

// True when the last part of the path is a symbolic link.
bool IsSymbolicLink(const std::string& path);
// True when both paths name the same existing directory.
bool SameDirectory(const std::string& a, const std::string& b);
// The directory part of a path ("." when it has none).
std::string ParentDirectory(const std::string& path);

// A whole-file replacement written piece by piece: the bytes go to a
// temporary file beside the target, and Commit renames it over the target,
// so the target is either as it was or complete. The target is refused when
// its last part is a symbolic link or it exists and is not a regular file;
// nothing is ever written through a link. The new file keeps an existing
// target's permissions (a new one gets 0644 less the umask).
class StreamedReplacement {
 public:
  StreamedReplacement() = default;
  ~StreamedReplacement();
  StreamedReplacement(const StreamedReplacement&) = delete;
  StreamedReplacement& operator=(const StreamedReplacement&) = delete;

  // False with a reason (UTF-8) when the target cannot be written.
  bool Open(const std::string& target, std::string* error);
  bool Write(const std::string& bytes);
  // Flushes and renames; false (and the target untouched) on any failure.
  bool Commit();

 private:
  std::string target_;
  std::string temp_;
  int fd_ = -1;
  bool ok_ = false;
  std::uint32_t mode_ = 0;
};

}  // namespace qm
