#pragma once
// Text conversions between the program's UTF-8 and the local code page (GBK,
// code page 936) of the files it shares with its Windows original. Nothing here
// throws; bad input is replaced, never dropped silently or crashed on.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// GBK bytes to UTF-8. A byte sequence that is not GBK becomes U+FFFD.
std::string GbkToUtf8(std::string_view gbk);
// UTF-8 to GBK. Characters GBK cannot hold become '?', the code page's default
// character; invalid UTF-8 sequences become '?' as well.
std::string Utf8ToGbk(std::string_view utf8);

// True when `text` is well-formed UTF-8 (no overlongs, surrogates or values past U+10FFFF).
bool IsValidUtf8(std::string_view text);
// True when `text` is valid UTF-8 that GBK holds as it is: converted there and
// back it comes out unchanged. What the GBK files and file names can take.
bool GbkCanHold(std::string_view text);
// `text` with every invalid UTF-8 sequence replaced by U+FFFD.
std::string SanitizeUtf8(std::string_view text);

// UTF-8 to UTF-16 code units (invalid sequences become U+FFFD).
std::u16string Utf8ToUtf16(std::string_view utf8);
// UTF-16 code units to UTF-8 (unpaired surrogates become U+FFFD).
std::string Utf16ToUtf8(std::u16string_view utf16);

// ASCII-only case folding, safe on UTF-8 (multi-byte sequences are left alone).
std::string AsciiLower(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace qm
