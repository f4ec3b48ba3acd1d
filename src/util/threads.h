#pragma once
// Worker threads. A thread handle is a 32-bit number from a process-wide
// registry (0 = none). A thread's record stays after the thread ends, so its
// state and exit code can be read, until the handle is closed; a thread started
// without asking for its handle is released as soon as it ends.
#include <cstdint>
#include <functional>

namespace qm {

// A thread procedure: takes the start parameter, returns the exit code.
using ThreadProc = std::function<std::uint32_t(std::uint32_t)>;

// Thread states as State() reports them.
inline constexpr int kThreadInvalid = 0;
inline constexpr int kThreadEnded = 1;
inline constexpr int kThreadRunning = 2;

// ExitCode() of a thread that still runs (the Windows STILL_ACTIVE value).
inline constexpr std::uint32_t kStillActive = 259;
// ExitCode() of a thread whose procedure ended by throwing.
inline constexpr std::uint32_t kThreadFailedExitCode = 0xFFFFFFFFu;

// Starts `proc(param)` on a new thread. With `outHandle` the handle is stored
// there (close it with ThreadUtil::Close); without, the thread runs on and its
// record goes when it ends. True when the thread was created. An empty `proc`
// starts nothing and gives false.
bool StartThread(ThreadProc proc, std::uint32_t param = 0, std::uint32_t* outHandle = nullptr);

// The thread object of the program: stateless, every operation is process-wide.
class ThreadUtil {
 public:
  // Starts a thread as StartThread does; the handle goes to `outHandle` only
  // with `keep` (otherwise it is released at once and *outHandle becomes 0).
  bool Start(ThreadProc proc, std::uint32_t param, std::uint32_t* outHandle, bool keep) const;

  // A new recursive lock (a handle of the lock registry, never 0).
  std::uint32_t NewLock() const;
  // Deletes a lock made by NewLock. False for an unknown handle, a lock made by
  // CreateLock (those are never deleted) or a lock that some thread holds.
  bool DeleteLock(std::uint32_t lock) const;
  // Enter/leave the lock; unknown handles are ignored.
  void Enter(std::uint32_t lock) const;
  void Leave(std::uint32_t lock) const;

  // Waits for the thread to end. On the UI thread the wait runs the events of
  // the current EventPump meanwhile: every event restarts the limit, and the
  // wait also stops when a full `limitMs` passes without any event. Off the UI
  // thread (or without a pump) it waits up to `limitMs` plainly. True when the
  // thread has ended; false at the limit or for an unknown handle.
  bool WaitFor(std::uint32_t thread, int limitMs = 5000) const;

  // Suspending, resuming and killing another thread at an arbitrary point have
  // no safe form on top of std::thread (POSIX has no suspend, and a killed
  // thread would leave its locks held and its memory half-written). These three
  // therefore do nothing and return false.
  bool Suspend(std::uint32_t thread) const;
  bool Resume(std::uint32_t thread) const;
  bool Terminate(std::uint32_t thread) const;

  // The procedure's result; kStillActive while the thread runs; 0 for an unknown handle.
  std::uint32_t ExitCode(std::uint32_t thread) const;
  // kThreadInvalid, kThreadRunning or kThreadEnded.
  int State(std::uint32_t thread) const;
  // Releases the handle (the thread, if still running, runs on). True when the
  // handle was known.
  bool Close(std::uint32_t thread) const;
  // A small number that identifies the calling thread for the life of the process (never 0).
  static std::uint32_t CurrentThreadId();
};

}  // namespace qm
