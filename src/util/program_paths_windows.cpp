// Program and user directories on Windows: the executable's own path and the
// roaming application data folder (%APPDATA%), both asked for in UTF-16.
#include "util/program_paths.h"

#include "util/wide_path.h"

#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <cwchar>
#include <cwctype>
#include <vector>

namespace qm {
namespace {

std::string WithoutTrailingSeparator(std::string path) {
  // "C:\" keeps its separator: without it, it would name drive C's current directory.
  while (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  return path;
}

bool IsAbsolute(const wchar_t* path) {
  if (path == nullptr || path[0] == L'\0') return false;
  if (path[0] == L'\\' && path[1] == L'\\') return true;  // \\server\share
  return std::iswalpha(static_cast<wint_t>(path[0])) && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
}

}  // namespace

std::string ExecutableDir() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) {
      const std::wstring path(buffer.data(), n);
      const std::size_t slash = path.find_last_of(L"\\/");
      if (slash == std::wstring::npos) return {};
      const std::wstring dir = path.substr(0, slash == 2 && path[1] == L':' ? 3 : slash);
      return Utf8Path(dir.data(), dir.size());
    }
    if (buffer.size() >= 32768) return {};  // longer than any Windows path
    buffer.resize(buffer.size() * 2);
  }
}

std::string UserDataHome() {
  PWSTR known = nullptr;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_DEFAULT, nullptr, &known)) &&
      IsAbsolute(known)) {
    std::string path = Utf8Path(known, std::wcslen(known));
    CoTaskMemFree(known);
    return WithoutTrailingSeparator(path);
  }
  CoTaskMemFree(known);
  // Accounts without a loaded profile can still be given one in the environment.
  if (const wchar_t* appData = _wgetenv(L"APPDATA"); IsAbsolute(appData)) {
    return WithoutTrailingSeparator(Utf8Path(appData, std::wcslen(appData)));
  }
  return {};
}

}  // namespace qm
