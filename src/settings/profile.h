#pragma once
// Profile (INI) files as the Windows private-profile functions keep them: one
// "[section]" line per section, "key=value" lines below it. The files are GBK
// on disk; every text here is UTF-8.
//
// Reading: section and key names are compared without regard to case; the
// first matching section and, in it, the first matching key win; values are
// trimmed and one pair of surrounding quotes ('"' or '\'') is dropped; a read
// returns at most kProfileValueLimit bytes (of the file's GBK text) of a value.
// A missing file, section or key, and an empty file name, section or key, read
// as the empty text.
//
// Writing keeps comments, blank lines and the order of everything else; a new
// key goes to the end of its section, a new section to the end of the file.
// The file keeps its line breaks (CRLF or LF; new files get CRLF). The file is
// replaced atomically (a temporary file beside it, then a rename), and a new
// file is created readable by its owner only. A write holds a lock across
// processes (FileEditLock) from its read to its rename, so two processes that
// edit the same file never lose one another's change; a file over the size
// limit, or one that is not a regular file, is never rewritten.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// Longest value a read returns, in bytes of the file's encoding.
inline constexpr std::size_t kProfileValueLimit = 10239;
// Room for the list of section names (each name plus a terminating zero, in
// the file's encoding, plus a final zero); names past it are left out.
inline constexpr std::size_t kProfileSectionListLimit = 204800;

std::string ReadProfileString(const std::string& file, std::string_view section, std::string_view key);

// False, and the file untouched, when the write cannot be made or would corrupt
// the file: an empty file name, section or key; a section or key holding "]",
// "=", a line break or a NUL, or starting with "[" or ";"; a value holding a
// line break or a NUL; text that is not valid UTF-8 or that the file's
// encoding cannot hold (GBK has no emoji: storing '?' instead would change the
// value); an unreadable or unwritable file. Names are trimmed as on a read. A value with surrounding blanks or quotes is written quoted
// so that it reads back as written.
bool WriteProfileString(const std::string& file, std::string_view section, std::string_view key,
                        std::string_view value);

// Removes the key (its first occurrence in the first matching section). True
// when the file is as asked afterwards (also when the key was not there).
bool DeleteProfileKey(const std::string& file, std::string_view section, std::string_view key);

// Removes the section with all its keys, every section of that name when it
// repeats (a later one would otherwise take its place in lookups). True when
// the file has no such section afterwards (also when it had none).
bool DeleteProfileSection(const std::string& file, std::string_view section);

// The section names in file order (a name that repeats is listed once; empty
// names are left out). Empty for a missing or unreadable file.
std::vector<std::string> ProfileSectionNames(const std::string& file);

// The key names of a section in file order (each once). Empty for a missing
// section or an unreadable file.
std::vector<std::string> ProfileKeyNames(const std::string& file, std::string_view section);

}  // namespace qm
