// The file guards on Windows: the edit lock is a file of its own beside the
// edited one, opened without sharing; ownership is left to the folder's
// access rules (a user's application data folder is the user's own).
#include "util/file_guard.h"

#include "util/file_io.h"
#include "util/wide_path.h"

#include <io.h>

#include <chrono>
#include <thread>

namespace qm {

std::string ParentDirectory(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) return ".";
  if (slash == 0) return path.substr(0, 1);
  return path.substr(0, slash);
}

FileEditLock::FileEditLock(const std::string& path) {
  std::wstring wide;
  if (!WidePath(ParentDirectory(path) + "\\.quillmere-edit.lock", &wide)) return;
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      handle_ = reinterpret_cast<std::intptr_t>(h);
      held_ = true;
      return;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) return;
    if (std::chrono::steady_clock::now() > limit) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

FileEditLock::~FileEditLock() {
  if (held_) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool DirectoryWritable(const std::string& dir) {
  std::wstring wide;
  if (!WidePath(dir, &wide)) return false;
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}

std::string ForeignOwnershipProblem(const std::string&) { return {}; }

std::optional<FileIdentity> IdentityOf(const std::string& path) {
  std::wstring wide;
  if (!WidePath(path, &wide)) return std::nullopt;
  HANDLE h = CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool ok = GetFileInformationByHandle(h, &info) != 0;
  CloseHandle(h);
  if (!ok) return std::nullopt;
  return FileIdentity{info.dwVolumeSerialNumber,
                      (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

bool IsSymbolicLink(const std::string& path) {
  std::wstring wide;
  if (!WidePath(path, &wide)) return false;
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool SameDirectory(const std::string& a, const std::string& b) {
  auto identity = [](const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
    std::wstring wide;
    if (!WidePath(path, &wide)) return false;
    HANDLE h = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool ok = GetFileInformationByHandle(h, info) != 0;
    CloseHandle(h);
    return ok && (info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  };
  BY_HANDLE_FILE_INFORMATION x{}, y{};
  return identity(a, &x) && identity(b, &y) && x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
         x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}

StreamedReplacement::~StreamedReplacement() {
  if (fd_ >= 0) {
    CloseTemporary(fd_);
    std::wstring wide;
    if (WidePath(temp_, &wide)) DeleteFileW(wide.c_str());
  }
}

bool StreamedReplacement::Open(const std::string& target, std::string* error) {
  target_ = target;
  std::wstring wide;
  if (!WidePath(target, &wide)) {
    *error = "“" + target + "”无法写入。";
    return false;
  }
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      *error = "“" + target + "”是符号链接，不会写入。";
      return false;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      *error = "“" + target + "”不是普通文件。";
      return false;
    }
  }
  fd_ = MakeTemporaryBeside(target, &temp_);
  if (fd_ < 0) {
    *error = "“" + target + "”无法写入。";
    return false;
  }
  ok_ = true;
  return true;
}

bool StreamedReplacement::Write(const std::string& bytes) {
  ok_ = ok_ && fd_ >= 0 && WriteAll(fd_, bytes);
  return ok_;
}

bool StreamedReplacement::Commit() {
  if (fd_ < 0) return false;
  std::wstring from, to;
  bool ok = ok_ && WidePath(temp_, &from) && WidePath(target_, &to) &&
            FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(fd_))) &&
            MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  CloseTemporary(fd_);
  fd_ = -1;
  if (!ok && !from.empty()) DeleteFileW(from.c_str());
  return ok;
}

}  // namespace qm
