#pragma once
// The runner's view of a run: one output line per event.
#include <functional>
#include <string>

#include "platform/platform_time.h"
#include "rating/run_observer.h"

namespace qm {

class RunLines : public RunObserver {
 public:
  // `once`: the run ends after the first load's refresh and pass (--once).
  // Lines go to `print` (standard output when empty); their times are `clock`'s.
  RunLines(const PlatformClock& clock, bool once, std::function<void(const std::string&)> print = {});

  // Runs when the run should end, with the exit code.
  std::function<void(int code)> end;
  // Runs after the line of each new alert (it goes on to the alert's destinations).
  std::function<void(const Order&, const BuyerVerdict&)> alerted;

  void LoadProgress(int tradesRead) override;
  void ReloadStarted(ReloadReason why, int intervalMinutes) override;
  void LoadReported(const LoadReport& report) override;
  void Started() override;
  void RefreshReported(const RefreshReport& report) override;
  void PassRated(const PassRating& rating) override;
  void KeepListUnusable(const std::string& problem, bool first) override;
  void MovedToBuyerRated(const Order& order, const std::string& result) override;
  void Settled(const std::string& tid, bool rated) override;
  void Alert(const Order& order, const BuyerVerdict& verdict) override;
  void PlatformUnreachable() override;
  void PlatformBack() override;
  void CallLimited(const CallLimitWait& wait) override;
  void NewsOld() override;

 private:
  void Print(const std::string& line) const;

  const PlatformClock& clock_;
  bool once_;
  std::function<void(const std::string&)> print_;
  bool loaded_ = false;       // a first load listed orders
  bool completed_ = true;     // the first load was complete
  bool platformDown_ = false; // the last refresh found the platform not answering
};

}  // namespace qm
