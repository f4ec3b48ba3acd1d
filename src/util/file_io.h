#pragma once
// Whole-file reads and atomic whole-file replacement: the one place the
// settings files meet the operating system's file calls (file_io.cpp for
// POSIX, file_io_windows.cpp for Windows, where names go out as UTF-16).
#include <cstddef>
#include <string>

namespace qm {

// Writes every byte to the descriptor, retrying after interruptions.
bool WriteAll(int fd, const std::string& bytes);

// The largest settings file the program reads. Config.ini holds a few
// hundred bytes per seller and 手动评价内容.ini as much per answered order, so
// 4 MiB is thousands of either; a larger file is not one of ours, and reading
// it would cost seconds and many times its size in memory.
inline constexpr std::size_t kSettingsFileLimit = 4u << 20;

enum class FileReadStatus {
  Ok,
  Missing,     // no such file
  Failed,      // there, but it cannot be read (no permission, an I/O error)
  NotRegular,  // a directory, a FIFO, a device...: never opened for reading
  TooLarge,    // over the limit; nothing read
};

// Reads the whole file into *bytes (left empty unless Ok). A FIFO or a device
// is never waited on.
FileReadStatus ReadWholeFile(const std::string& path, std::string* bytes,
                             std::size_t limit = kSettingsFileLimit);
// The same verdict without reading the contents.
FileReadStatus CheckReadableFile(const std::string& path, std::size_t limit = kSettingsFileLimit);

// Replaces the file's contents with `bytes` so that a crash at any moment
// leaves either the old or the new contents, never a mix: the bytes go to a
// temporary file beside the target, are flushed to disk, and the temporary
// file is renamed over the target. The file is readable and writable by its
// owner only afterwards (it holds the seller's secrets), whatever its mode
// was. A symbolic link is followed, so the file it names is replaced and the
// link stays. False (and the target untouched) on any failure.
bool ReplaceFileAtomically(const std::string& path, const std::string& bytes);

// A temporary file beside `target`, named "." + its name + ".tmp-XXXXXX",
// mode 0600, held under an exclusive lock (flock; on Windows a range lock far
// past the contents) for as long as the descriptor is open, so that
// RemoveStrayTemporaries can tell the file of a writer that was killed from
// one that is being written. Others may open it meanwhile (SQLite builds a
// database in one). The descriptor, -1 on failure (errno says why).
int MakeTemporaryBeside(const std::string& target, std::string* name);
// Closes a descriptor from MakeTemporaryBeside, which releases its lock.
void CloseTemporary(int fd);

// Removes the temporary files in `dir` that MakeTemporaryBeside made for
// writers that are gone (no one holds their lock), with the journal files
// SQLite may have left beside them. Returns how many files went. A file
// younger than kStrayTemporaryAgeSeconds is left alone: another process may
// be between its making and its locking.
int RemoveStrayTemporaries(const std::string& dir);
inline constexpr int kStrayTemporaryAgeSeconds = 60;

}  // namespace qm
