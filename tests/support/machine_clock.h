#pragma once
// The machine's clocks as a test sets them, for a platform clock made on
// them. Until set, the system's. Once set, the wall clock is the one given,
// and the elapsed clock goes on from where it stood by as much as the given
// elapsed clock moves: like a machine's, it never jumps when a test changes
// clocks, so what the platform said of its time still holds.
#include <functional>
#include <memory>
#include <mutex>

#include "platform/platform_time.h"

namespace qm::test {

class MachineClock {
 public:
  // `now` serves as both clocks (time that passes); nullptr: the system's.
  void Set(std::function<double()> now) { Set(now, now); }
  // The wall clock (which a test may set by hand) and the time that passes apart.
  void Set(std::function<double()> wall, std::function<double()> elapsed);

  double Wall() const;
  double Elapsed() const;

  // A platform clock on these clocks; it reads them as long as it lives.
  static std::shared_ptr<PlatformClock> On(const std::shared_ptr<MachineClock>& machine);

 private:
  struct Sources {
    std::function<double()> wall, elapsed;
    bool set = false;
    double elapsedFrom = 0;   // the elapsed clock's value when it was set
    double sourceFrom = 0;    // the given elapsed clock's value then
  };
  Sources Current() const;

  mutable std::mutex mutex_;
  Sources sources_;
};

}  // namespace qm::test
