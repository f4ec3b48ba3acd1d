#pragma once
// A file that the process keeps open and exclusively locked until it ends:
// the seller's run lock (NICK.lock), which marks the seller as in use, so
// that a second running copy for the same seller cannot start. The lock file
// exists only for this and is never replaced, so an editor that saves
// another file by rename cannot take the lock away with it.
#include <functional>
#include <string>

namespace qm {

enum class HeldFileStatus {
  Ok,      // the file is held; its bytes were read
  Busy,    // another process (or another open file) holds the lock
  Failed,  // the file cannot be made, opened or read (a directory, no permission)
};

// Opens the file for reading and writing, creating it first with `initial`
// when it does not exist (the new file appears with its whole content at
// once), takes an exclusive non-blocking lock and keeps the file open and
// locked for the rest of the process. *bytes receives its whole content.
// Holding the same path again in this process re-reads the file already held.
HeldFileStatus HoldFileExclusively(const std::string& path, const std::string& initial, std::string* bytes);

// Runs `work` while no process can hold the file: the lock HoldFileExclusively
// takes is taken for the length of `work` and given up after it. Ok when
// `work` ran (also when the file does not exist; it is not made); Busy when a
// process holds the file (this one included) and `work` did not run; Failed
// when the file cannot be checked. `work` must not hold files itself.
HeldFileStatus WithFileUnheld(const std::string& path, const std::function<void()>& work);

// Makes the file with `initial` when it does not exist, so that no other
// process ever sees it empty (a file another process made first is kept).
// False when it is still missing afterwards.
bool CreateFileWithContent(const std::string& path, const std::string& initial);

}  // namespace qm
