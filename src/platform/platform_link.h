#pragma once
// What the program keeps of the platform beyond one request: the platform's
// clock, the call limits of each application key, and the transport its
// requests travel by (worker threads, open connections). The front end (the
// desktop, the runner) makes one for the program and hands it with every
// account it gives out (Account::link), so that what one run's time check
// learns holds for every request and one key's quota is counted once however
// many runs use it.
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "platform/platform_time.h"
#include "platform/transport.h"
#include "settings/app_session.h"

namespace qm {

class CallLimits;

class PlatformLink {
 public:
  // On the machine's own clocks.
  PlatformLink() = default;
  // On `clock` (the machine's clocks as a test sets them).
  explicit PlatformLink(std::shared_ptr<PlatformClock> clock) : clock_(std::move(clock)) {}
  PlatformLink(const PlatformLink&) = delete;
  PlatformLink& operator=(const PlatformLink&) = delete;

  PlatformClock& Clock() { return *clock_; }

  // The limits of the account's key at the account's gateway: one record per
  // key and gateway, as the platform keeps one count; one key may serve
  // several shops' runs, which then share its quota and bans.
  std::shared_ptr<CallLimits> LimitsOf(const Account& account);

  const std::shared_ptr<Transport>& Carrier() const { return transport_; }

 private:
  std::shared_ptr<PlatformClock> clock_ = std::make_shared<PlatformClock>();
  std::shared_ptr<Transport> transport_ = MakeTransport();
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<CallLimits>> limits_;
};

// The link an account was handed with. Every account the program uses comes
// from a session its front end gave a link; one without is a fault of the caller.
PlatformLink& LinkOf(const Account& account);
// Its clock, and its key's limits.
PlatformClock& ClockOf(const Account& account);
std::shared_ptr<CallLimits> LimitsOf(const Account& account);
// `request` sent by the account's link's transport.
WebRequest Through(const Account& account, WebRequest request);

}  // namespace qm
