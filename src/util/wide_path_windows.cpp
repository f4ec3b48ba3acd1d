#include "util/wide_path.h"

#include <cerrno>
#include <climits>

namespace qm {

bool WidePath(const std::string& utf8, std::wstring* wide) {
  wide->clear();
  if (utf8.empty()) return true;
  if (utf8.find('\0') != std::string::npos || utf8.size() > INT_MAX) return false;
  const int size = static_cast<int>(utf8.size());
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
  if (n <= 0) return false;
  wide->resize(static_cast<std::size_t>(n));
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide->data(), n) == n;
}

std::string Utf8Path(const wchar_t* wide, std::size_t length) {
  if (length == 0 || length > INT_MAX) return {};
  const int size = static_cast<int>(length);
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide, size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, size, out.data(), n, nullptr, nullptr);
  return out;
}

void SetErrnoFromWin32(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME: errno = ENOENT; break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: errno = EACCES; break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: errno = EEXIST; break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: errno = ENOSPC; break;
    default: errno = EIO; break;
  }
}

}  // namespace qm
