#include "platform/platform_link.h"

#include <cstdio>
#include <cstdlib>

#include "platform/call_limits.h"

namespace qm {

std::shared_ptr<CallLimits> PlatformLink::LimitsOf(const Account& account) {
  std::lock_guard lock(mutex_);
  std::shared_ptr<CallLimits>& limits = limits_[account.endpoints.gateway + '\n' + account.appKey];
  if (!limits) limits = std::make_shared<CallLimits>(clock_);
  return limits;
}

PlatformLink& LinkOf(const Account& account) {
  if (!account.link) {
    std::fputs("an account without its platform link\n", stderr);
    std::abort();
  }
  return *account.link;
}

PlatformClock& ClockOf(const Account& account) { return LinkOf(account).Clock(); }

std::shared_ptr<CallLimits> LimitsOf(const Account& account) { return LinkOf(account).LimitsOf(account); }

WebRequest Through(const Account& account, WebRequest request) {
  request.transport = LinkOf(account).Carrier();
  return request;
}

}  // namespace qm
