#pragma once
// Whole-file reads and atomic whole-file replacement: the one place the
// settings files meet the operating system's file calls.
#include <string>

namespace qm {

// Writes every byte to the descriptor, retrying after interruptions.
bool WriteAll(int fd, const std::string& bytes);

enum class FileReadStatus { Ok, Missing, Failed };

// Reads the whole file into *bytes. Missing when there is no such file,
// Failed when it exists but cannot be read (a directory, no permission).
FileReadStatus ReadWholeFile(const std::string& path, std::string* bytes);

// Replaces the file's contents with `bytes` so that a crash at any moment
// leaves either the old or the new contents, never a mix: the bytes go to a
// temporary file beside the target, are flushed to disk, and the temporary
// file is renamed over the target. An existing file keeps its permission
// bits; a new one is readable and writable by its owner only. A symbolic link
// is followed, so the file it names is replaced and the link stays. False
// (and the target untouched) on any failure.
bool ReplaceFileAtomically(const std::string& path, const std::string& bytes);

}  // namespace qm
