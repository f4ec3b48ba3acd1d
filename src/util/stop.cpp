#include "util/stop.h"

#include <atomic>

namespace qm {
namespace {
std::atomic<bool> g_stop{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the stop must be settable from a signal handler");
}  // namespace

void RequestStop() noexcept { g_stop.store(true, std::memory_order_release); }
bool StopRequested() noexcept { return g_stop.load(std::memory_order_acquire); }
void ClearStopRequest() noexcept { g_stop.store(false, std::memory_order_release); }

}  // namespace qm
