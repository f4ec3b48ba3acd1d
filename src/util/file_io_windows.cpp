// The file layer on Windows: the same contract as file_io.cpp, with wide
// (UTF-16) names, handles behind the C runtime's descriptors, and a range lock
// in place of flock.
#include "util/file_io.h"

#include "util/wide_path.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cwchar>
#include <random>
#include <string_view>
#include <vector>

namespace qm {
namespace {

constexpr const char* kTemporaryMark = ".tmp-";
constexpr std::size_t kSuffixLength = 6;

// The temporaries' liveness lock covers one byte far past any content: range
// locks on Windows are mandatory, and SQLite reads, writes and locks (near
// 1 GiB) a database file that is being built while its builder holds this.
constexpr DWORD kLiveLockHigh = 0x7FFFFFFF;

bool LockRange(HANDLE h) {
  OVERLAPPED at{};
  at.OffsetHigh = kLiveLockHigh;
  return LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

void UnlockRange(HANDLE h) {
  OVERLAPPED at{};
  at.OffsetHigh = kLiveLockHigh;
  UnlockFileEx(h, 0, 1, 0, &at);
}

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// Where the name part of a path starts: after its last separator, or after
// "C:" in a drive-relative path.
std::size_t NameStart(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  if (slash != std::string::npos) return slash + 1;
  return path.size() >= 2 && path[1] == ':' ? 2 : 0;
}

std::string RandomSuffix() {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937 generator{std::random_device{}() ^ GetCurrentProcessId()};
  std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof kChars) - 2);
  std::string out(kSuffixLength, 'X');
  for (char& c : out) c = kChars[pick(generator)];
  return out;
}

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME ||
         error == ERROR_BAD_NETPATH || error == ERROR_INVALID_DRIVE;
}

// Opens a file to read its verdict and, when Ok, its size. Directories are
// opened too (backup semantics) to be told apart; pipes, consoles and other
// devices are refused by their type before anything is read from them.
FileReadStatus OpenForReading(const std::string& path, std::size_t limit, HANDLE* out, std::uint64_t* size) {
  *out = INVALID_HANDLE_VALUE;
  std::wstring wide;
  if (path.empty() || !WidePath(path, &wide)) return FileReadStatus::Missing;
  HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (IsMissing(error)) return FileReadStatus::Missing;
    // A named pipe whose every instance is taken: a pipe all the same.
    return error == ERROR_PIPE_BUSY ? FileReadStatus::NotRegular : FileReadStatus::Failed;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    CloseHandle(h);
    return FileReadStatus::NotRegular;
  }
  *size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (*size > limit) {
    CloseHandle(h);
    return FileReadStatus::TooLarge;
  }
  *out = h;
  return FileReadStatus::Ok;
}

// The file a path names, following a symbolic link or junction; false when
// a link dangles.
bool ResolveTarget(const std::string& path, const std::wstring& wide, std::string* target) {
  *target = path;
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return true;
  HANDLE h = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  std::vector<wchar_t> buffer(MAX_PATH);
  DWORD n = GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()), FILE_NAME_NORMALIZED);
  if (n >= buffer.size()) {
    buffer.resize(n + 1);
    n = GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()), FILE_NAME_NORMALIZED);
  }
  CloseHandle(h);
  if (n == 0 || n >= buffer.size()) return false;
  std::wstring_view resolved(buffer.data(), n);
  // "\\?\C:\dir\file" and "\\?\UNC\server\share\file" back to their usual forms.
  std::wstring plain;
  if (resolved.substr(0, 8) == L"\\\\?\\UNC\\") {
    plain = L"\\\\" + std::wstring(resolved.substr(8));
  } else if (resolved.substr(0, 4) == L"\\\\?\\") {
    plain = std::wstring(resolved.substr(4));
  } else {
    plain = std::wstring(resolved);
  }
  *target = Utf8Path(plain.data(), plain.size());
  return !target->empty();
}

// A scanner or indexer that has just opened the target makes the replace
// fail for a moment; a few short tries ride that out.
bool MoveOver(const std::wstring& from, const std::wstring& to) {
  for (int attempt = 0;; ++attempt) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    const DWORD error = GetLastError();
    if (attempt >= 4 || (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)) return false;
    Sleep(20);
  }
}

// True when `written` lies more than `seconds` before now.
bool WrittenBefore(const FILETIME& written, unsigned seconds) {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const auto ticks = [](const FILETIME& t) {
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  return ticks(written) + seconds * 10000000ULL < ticks(now);  // FILETIME counts 100 ns
}

}  // namespace

bool WriteAll(int fd, const std::string& bytes) {
  HANDLE h = HandleOf(fd);
  if (h == INVALID_HANDLE_VALUE) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(h, bytes.data() + done, chunk, &written, nullptr) || written == 0) return false;
    done += written;
  }
  return true;
}

FileReadStatus CheckReadableFile(const std::string& path, std::size_t limit) {
  HANDLE h;
  std::uint64_t size = 0;
  const FileReadStatus status = OpenForReading(path, limit, &h, &size);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  return status;
}

FileReadStatus ReadWholeFile(const std::string& path, std::string* bytes, std::size_t limit) {
  bytes->clear();
  HANDLE h;
  std::uint64_t size = 0;
  const FileReadStatus status = OpenForReading(path, limit, &h, &size);
  if (status != FileReadStatus::Ok) return status;
  bytes->reserve(static_cast<std::size_t>(size));
  std::vector<char> buffer(65536);
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(h, buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr)) {
      CloseHandle(h);
      bytes->clear();
      return FileReadStatus::Failed;
    }
    if (n == 0) break;
    bytes->append(buffer.data(), n);
    // A file that grows while it is read counts as what it became.
    if (bytes->size() > limit) {
      CloseHandle(h);
      bytes->clear();
      return FileReadStatus::TooLarge;
    }
  }
  CloseHandle(h);
  return FileReadStatus::Ok;
}

int MakeTemporaryBeside(const std::string& target, std::string* name) {
  const std::size_t start = NameStart(target);
  const std::string prefix = target.substr(0, start) + "." + target.substr(start) + kTemporaryMark;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = prefix + RandomSuffix();
    std::wstring wide;
    if (!WidePath(candidate, &wide)) {
      errno = EINVAL;
      return -1;
    }
    // Shared for reading and writing (SQLite opens it by name) and for
    // deletion, so it can be renamed and removed while it is held.
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
      SetErrnoFromWin32(error);
      return -1;
    }
    const int fd = LockRange(h) ? _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY) : -1;
    if (fd < 0) {
      SetErrnoFromWin32(GetLastError());
      CloseHandle(h);
      DeleteFileW(wide.c_str());
      return -1;
    }
    *name = candidate;
    return fd;
  }
  errno = EEXIST;
  return -1;
}

void CloseTemporary(int fd) {
  if (fd >= 0) _close(fd);
}

int RemoveStrayTemporaries(const std::string& dir) {
  const std::string prefix = dir.empty() ? std::string() : (dir.back() == '/' || dir.back() == '\\') ? dir : dir + "\\";
  std::wstring pattern;
  if (!WidePath(prefix + "*", &pattern)) return 0;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return 0;
  std::vector<std::string> temporaries, companions;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    const std::string name = Utf8Path(found.cFileName, wcslen(found.cFileName));
    const std::string_view n = name;
    if (n.size() < 2 || n[0] != '.') continue;
    const std::size_t mark = n.rfind(kTemporaryMark);
    if (mark == std::string_view::npos) continue;
    const std::size_t tail = mark + std::string_view(kTemporaryMark).size();
    if (n.size() == tail + kSuffixLength) {
      temporaries.push_back(name);
    } else if (n.size() > tail + kSuffixLength && n[tail + kSuffixLength] == '-') {
      companions.push_back(name);  // "-journal", "-wal", "-shm"
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);

  int removed = 0;
  for (const std::string& n : temporaries) {
    std::wstring path;
    if (!WidePath(prefix + n, &path)) continue;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) continue;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool regular = GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) &&
                         (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
    // Its writer holds the lock while it lives. A fresh one may be between
    // its making and its locking by another process: only older ones count.
    // Deleting through the handle that took the lock leaves no moment for a
    // new writer to slip in.
    if (regular && WrittenBefore(info.ftLastWriteTime, kStrayTemporaryAgeSeconds) && LockRange(h)) {
      FILE_DISPOSITION_INFO dispose{};
      dispose.DeleteFile = TRUE;
      if (SetFileInformationByHandle(h, FileDispositionInfo, &dispose, sizeof dispose)) ++removed;
      UnlockRange(h);
    }
    CloseHandle(h);
  }
  for (const std::string& n : companions) {
    const std::string owner = prefix + n.substr(0, n.rfind(kTemporaryMark) + std::string_view(kTemporaryMark).size() +
                                                       kSuffixLength);
    std::wstring wideOwner, path;
    if (!WidePath(owner, &wideOwner) || !WidePath(prefix + n, &path)) continue;
    if (GetFileAttributesW(wideOwner.c_str()) != INVALID_FILE_ATTRIBUTES) continue;  // still being written
    if (DeleteFileW(path.c_str())) ++removed;
  }
  return removed;
}

bool ReplaceFileAtomically(const std::string& path, const std::string& bytes) {
  std::wstring wide;
  if (path.empty() || !WidePath(path, &wide)) return false;
  std::string target;
  if (!ResolveTarget(path, wide, &target)) return false;
  std::wstring wideTarget;
  if (!WidePath(target, &wideTarget)) return false;
  const DWORD attributes = GetFileAttributesW(wideTarget.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    // Only an ordinary file is replaced; a device or pipe name has no such attributes to show.
    HANDLE h = CreateFileW(wideTarget.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const bool regular = h != INVALID_HANDLE_VALUE && GetFileType(h) == FILE_TYPE_DISK &&
                         (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    if (!regular) return false;
  }

  std::string temp;
  const int fd = MakeTemporaryBeside(target, &temp);
  if (fd < 0) return false;
  std::wstring wideTemp;
  WidePath(temp, &wideTemp);
  bool ok = WriteAll(fd, bytes) && FlushFileBuffers(HandleOf(fd));
  // A read-only file cannot be replaced. The new one is its owner's to write,
  // as on POSIX, where it ends up mode 0600 whatever it was.
  const bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (ok && readOnly) ok = SetFileAttributesW(wideTarget.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY) != 0;
  // Moved while still locked, so no cleaner can take it for a stray; write-through
  // makes the move itself durable before it returns.
  const bool moved = ok && MoveOver(wideTemp, wideTarget);
  CloseTemporary(fd);
  if (!moved) {
    if (ok && readOnly) SetFileAttributesW(wideTarget.c_str(), attributes);
    DeleteFileW(wideTemp.c_str());
    return false;
  }
  return true;
}

}  // namespace qm
