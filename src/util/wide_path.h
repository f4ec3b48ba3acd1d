#pragma once
// Windows only: file names there are UTF-16, inside the program UTF-8. The
// Windows files of util convert at the call and include <windows.h> through
// here, so that it comes with the same settings everywhere.
#ifndef _WIN32
#error "wide_path.h is for the Windows files of util"
#endif

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

namespace qm {

// The UTF-16 form of a UTF-8 name. False for invalid UTF-8 or a NUL inside
// the name: no file has such a name, so nothing may be opened for it.
bool WidePath(const std::string& utf8, std::wstring* wide);
// The UTF-8 form of a UTF-16 name (an unpaired surrogate becomes U+FFFD).
std::string Utf8Path(const wchar_t* wide, std::size_t length);

// errno for a Win32 error, for callers that report strerror(errno).
void SetErrnoFromWin32(DWORD error);

}  // namespace qm
