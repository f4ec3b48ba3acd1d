#include "platform/call_limits.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

#include "platform/platform_link.h"
#include "platform/platform_time.h"
#include "platform/reply.h"
#include "util/stop.h"

namespace qm {
namespace {

constexpr double kDaySeconds = 86400;
// A wait ends this long after the moment the platform named, so that the
// first call after it does not meet the end of the same limit.
constexpr double kMarginSeconds = 2;
// The least a limit is waited: one without a usable length is never a loop
// of calls.
constexpr double kLeastWaitSeconds = 5;
// A ban of one method whose length is not said.
constexpr double kUnsaidBanSeconds = 60;

long long BeijingDay(double now) {
  return static_cast<long long>(std::floor((now + kPlatformUtcOffsetSeconds) / kDaySeconds));
}

// The next midnight, Beijing time, as platform time.
double NextBeijingMidnight(double now) {
  return static_cast<double>(BeijingDay(now) + 1) * kDaySeconds - kPlatformUtcOffsetSeconds;
}

}  // namespace

void CallLimits::Listen(Listener listener) {
  std::lock_guard lock(mutex_);
  listener_ = std::move(listener);
}

void CallLimits::EndWaits() {
  {
    std::lock_guard lock(mutex_);
    ++generation_;
  }
  wake_.notify_all();
}

bool CallLimits::WaitBefore(const std::string& method, const std::function<bool()>& cancelled) {
  std::unique_lock lock(mutex_);
  const long generation = generation_;
  for (;;) {
    if (generation_ != generation || StopRequested() || (cancelled && cancelled())) return false;
    double until = 0;
    for (const std::string& scope : {std::string(), method}) {
      auto it = until_.find(scope);
      if (it != until_.end()) until = std::max(until, it->second);
    }
    const double left = until - clock_->Now();
    if (left <= 0) return true;
    // A stop wakes nothing here: look at it every slice.
    const auto slice = std::min<std::chrono::duration<double>>(std::chrono::duration<double>(left), kStopPollSlice);
    wake_.wait_for(lock, slice);
  }
}

std::function<void()> CallLimits::Count(double now) {
  std::lock_guard lock(mutex_);
  if (BeijingDay(now) != day_) {
    day_ = BeijingDay(now);
    today_ = 0;
  }
  ++today_;
  const bool first = counted_.empty();
  ++counted_[FormatPlatformTime(static_cast<std::int64_t>(std::floor(now))).substr(0, 10)];
  return first ? onCounted_ : std::function<void()>();
}

bool CallLimits::Met(const std::string& method, const std::string& replyText) {
  const double now = clock_->Now();
  const std::optional<CallLimit> limit = ReadCallLimit(replyText);
  if (const std::function<void()> heard = Count(now)) heard();
  Listener listener;
  CallLimitWait wait;
  {
    std::lock_guard lock(mutex_);
    if (!limit) return false;
    // A limit lasts as long as its message says; without a length, the
    // day's calls come back at the platform's midnight.
    double until = limit->seconds >= 0 ? now + static_cast<double>(limit->seconds)
                   : limit->daily      ? NextBeijingMidnight(now)
                                       : now + kUnsaidBanSeconds;
    until = std::max(until + kMarginSeconds, now + kLeastWaitSeconds);
    double& known = until_[limit->daily ? std::string() : method];
    // Met again while its wait is under way (another thread's call): the same spell.
    const bool newSpell = known <= now;
    known = std::max(known, until);
    if (!newSpell) return true;
    wait = CallLimitWait{limit->daily, method, known, known - now};
    listener = listener_;
  }
  if (listener) listener(wait);
  return true;
}

long CallLimits::RequestsToday() const {
  std::lock_guard lock(mutex_);
  return BeijingDay(clock_->Now()) == day_ ? today_ : 0;
}

std::map<std::string, long> CallLimits::TakeCounted() {
  std::lock_guard lock(mutex_);
  return std::exchange(counted_, {});
}

void CallLimits::OnCounted(std::function<void()> heard) {
  std::lock_guard lock(mutex_);
  onCounted_ = std::move(heard);
}

PlatformAnswer CallPlatform(const Account& account, const std::string& method,
                            const std::function<WebRequest()>& build, const std::function<bool()>& cancelled) {
  const std::shared_ptr<CallLimits> limits = LimitsOf(account);
  for (;;) {
    PlatformAnswer answer;
    if (!limits->WaitBefore(method, cancelled)) return answer;
    const WebReply reply = web_request(Through(account, build()));
    answer.sent = true;
    answer.arrived = reply.arrived;
    answer.text = decode_reply(reply.body);
    if (!limits->Met(method, answer.text)) return answer;
  }
}

}  // namespace qm
