// The stop on Windows, which has no SIGINT or SIGTERM to wait for: Ctrl+C and
// Ctrl+Break in the console count as SIGINT; the console's closing, the log-off
// and the shutdown count as SIGTERM. The system calls the handler on a thread
// of its own, which hands the event to the waiting thread.
#include "util/stop.h"

#include "util/wide_path.h"

#include <algorithm>
#include <atomic>

namespace qm {
namespace {
// Process-wide, as the console's events are the process's: the stop ends every
// wait of every thread, and the handler hands the event to the waiting thread.
std::atomic<bool> g_stop{false};
std::atomic<const char*> g_signal{nullptr};
HANDLE g_arrived = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD type) {
  const bool interrupt = type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT;
  g_signal.store(interrupt ? "SIGINT" : "SIGTERM", std::memory_order_release);
  SetEvent(g_arrived);
  // After a close, log-off or shutdown the system ends the process as soon as
  // the handler returns: stay here, so the program stops its own way (it
  // exits soon after the stop) or the system's time limit runs out.
  if (!interrupt) Sleep(INFINITE);
  return TRUE;
}
}  // namespace

void RequestStop() noexcept { g_stop.store(true, std::memory_order_release); }
bool StopRequested() noexcept { return g_stop.load(std::memory_order_acquire); }
void ClearStopRequest() noexcept { g_stop.store(false, std::memory_order_release); }

void BlockStopSignals() {
  if (g_arrived == nullptr) g_arrived = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

const char* WaitForStopSignal(std::chrono::milliseconds limit) {
  if (g_arrived == nullptr) BlockStopSignals();
  const DWORD wait = static_cast<DWORD>(std::clamp<std::chrono::milliseconds::rep>(limit.count(), 0, 0x7FFFFFFE));
  if (WaitForSingleObject(g_arrived, wait) != WAIT_OBJECT_0) return nullptr;
  const char* name = g_signal.load(std::memory_order_acquire);
  return name != nullptr ? name : "SIGTERM";
}

}  // namespace qm
