// The held comment file on Windows: opened with no sharing at all, which is
// the lock itself. No other process can read, write or remove the file while
// this one lives, and the handle's end with the process releases it.
#include "util/held_file.h"

#include "util/file_io.h"
#include "util/wide_path.h"

#include <io.h>

#include <map>
#include <mutex>
#include <vector>

namespace qm {
namespace {

// The files held so far, by path. The handles are never closed. One table for
// the process, as on other systems: a file held is held by the process.
std::mutex& HeldMutex() {
  static std::mutex m;
  return m;
}
std::map<std::string, HANDLE>& HeldFiles() {
  static auto* files = new std::map<std::string, HANDLE>();
  return *files;
}

bool ReadAll(HANDLE h, std::string* bytes) {
  bytes->clear();
  LARGE_INTEGER start{};
  if (!SetFilePointerEx(h, start, nullptr, FILE_BEGIN)) return false;
  std::vector<char> buffer(16384);
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(h, buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr)) {
      bytes->clear();
      return false;
    }
    if (n == 0) return true;
    bytes->append(buffer.data(), n);
  }
}

// Makes the file with its content when it does not exist: the content goes
// to a temporary file first, which is then moved to the final name without
// replacing anything, so no other process sees the file empty. False only
// when the file is still missing afterwards.
bool CreateWithContent(const std::string& path, const std::wstring& wide, const std::string& initial) {
  if (GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  const DWORD absent = GetLastError();
  if (absent != ERROR_FILE_NOT_FOUND) return true;  // let the open report what is wrong
  std::string temp;
  const int fd = MakeTemporaryBeside(path, &temp);
  std::wstring wideTemp;
  if (fd >= 0 && WidePath(temp, &wideTemp)) {
    const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    bool ok = WriteAll(fd, initial) && FlushFileBuffers(h);
    if (ok && !MoveFileExW(wideTemp.c_str(), wide.c_str(), MOVEFILE_WRITE_THROUGH)) {
      const DWORD error = GetLastError();
      ok = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;  // another process was first
      if (ok) DeleteFileW(wideTemp.c_str());
    }
    CloseTemporary(fd);
    if (ok) return true;
    DeleteFileW(wideTemp.c_str());
  } else if (fd >= 0) {
    CloseTemporary(fd);
  }
  // Where no temporary file can be made, create it in place.
  HANDLE direct = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (direct == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
  }
  bool ok = true;
  for (std::size_t done = 0; ok && done < initial.size();) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(initial.size() - done > (1u << 30) ? (1u << 30) : initial.size() - done);
    ok = WriteFile(direct, initial.data() + done, chunk, &written, nullptr) && written > 0;
    done += written;
  }
  CloseHandle(direct);
  if (!ok) DeleteFileW(wide.c_str());
  return ok;
}

}  // namespace

bool CreateFileWithContent(const std::string& path, const std::string& initial) {
  std::wstring wide;
  return !path.empty() && WidePath(path, &wide) && CreateWithContent(path, wide, initial);
}

HeldFileStatus HoldFileExclusively(const std::string& path, const std::string& initial, std::string* bytes) {
  bytes->clear();
  std::wstring wide;
  if (path.empty() || !WidePath(path, &wide)) return HeldFileStatus::Failed;
  std::lock_guard<std::mutex> lock(HeldMutex());
  auto held = HeldFiles().find(path);
  if (held != HeldFiles().end()) return ReadAll(held->second, bytes) ? HeldFileStatus::Ok : HeldFileStatus::Failed;
  if (!CreateWithContent(path, wide, initial)) return HeldFileStatus::Failed;
  // Share mode 0: the lock the original program takes on this file.
  HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? HeldFileStatus::Busy
                                                                               : HeldFileStatus::Failed;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !ReadAll(h, bytes)) {
    bytes->clear();
    CloseHandle(h);
    return HeldFileStatus::Failed;
  }
  HeldFiles()[path] = h;
  return HeldFileStatus::Ok;
}

HeldFileStatus WithFileUnheld(const std::string& path, const std::function<void()>& work) {
  std::wstring wide;
  if (path.empty() || !WidePath(path, &wide)) return HeldFileStatus::Failed;
  std::lock_guard<std::mutex> lock(HeldMutex());
  if (HeldFiles().count(path) != 0) return HeldFileStatus::Busy;
  // Share mode 0 again: while this handle is open no run can open the file.
  HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return HeldFileStatus::Busy;
    if (error != ERROR_FILE_NOT_FOUND) return HeldFileStatus::Failed;
    work();
    return HeldFileStatus::Ok;
  }
  work();
  CloseHandle(h);
  return HeldFileStatus::Ok;
}

}  // namespace qm
