#include "support/machine_clock.h"

#include <chrono>
#include <utility>

#include "util/elapsed_clock.h"

namespace qm::test {
namespace {

double SystemWall() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

void MachineClock::Set(std::function<double()> wall, std::function<double()> elapsed) {
  const double from = Elapsed();
  Sources next{std::move(wall), std::move(elapsed), true, from, 0};
  next.sourceFrom = next.elapsed ? next.elapsed() : ElapsedSeconds();
  std::lock_guard lock(mutex_);
  sources_ = std::move(next);
}

MachineClock::Sources MachineClock::Current() const {
  std::lock_guard lock(mutex_);
  return sources_;
}

double MachineClock::Wall() const {
  const Sources s = Current();
  return s.wall ? s.wall() : SystemWall();
}

double MachineClock::Elapsed() const {
  const Sources s = Current();
  if (!s.set) return ElapsedSeconds();
  return s.elapsedFrom + ((s.elapsed ? s.elapsed() : ElapsedSeconds()) - s.sourceFrom);
}

std::shared_ptr<PlatformClock> MachineClock::On(const std::shared_ptr<MachineClock>& machine) {
  return std::make_shared<PlatformClock>([machine] { return machine->Wall(); }, [machine] { return machine->Elapsed(); });
}

}  // namespace qm::test
