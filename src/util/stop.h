#pragma once
// The process-wide stop: once SIGINT or SIGTERM has come, every wait of the
// program ends at once, nothing new goes out to the platform and the timed
// work does no more. Set once and never cleared in a real run; tests clear it.
// It stays process-wide because a signal is sent to the process and must reach
// every wait of every thread; StopSignalWatch (stop_signal_watch.h) sets it.
#include <chrono>

namespace qm {

// Async-signal-safe: one lock-free atomic store, callable from a handler or
// from any thread.
void RequestStop() noexcept;
bool StopRequested() noexcept;
// For tests that request a stop and then go on in the same process.
void ClearStopRequest() noexcept;

// SIGINT and SIGTERM go back to their default action (a shell starts
// background jobs with SIGINT ignored, and an ignored signal never reaches a
// waiting thread) and are blocked in the calling thread and every thread it
// starts later: call it before any other thread starts.
void BlockStopSignals();
// Waits, on a thread of its own, up to `limit` for one of them: its name
// ("SIGINT" or "SIGTERM"), or nullptr when the limit passed without one.
const char* WaitForStopSignal(std::chrono::milliseconds limit);

// Waits that nothing wakes on a stop (a condition variable of another thread)
// look at StopRequested at least this often.
inline constexpr std::chrono::milliseconds kStopPollSlice{50};

}  // namespace qm
