#include "quota.h"

#include "xml_reply.h"

namespace qm::sandbox {

namespace {

constexpr long long kDay = 86400;
constexpr long long kBeijingOffset = 8 * 3600;

long long BeijingDay(std::time_t t) {
  const long long shifted = static_cast<long long>(t) + kBeijingOffset;
  return shifted >= 0 ? shifted / kDay : (shifted - kDay + 1) / kDay;
}

std::string Limited(const char* subCode, long long seconds, bool pretty) {
  return ErrorXml(7, "App Call Limited", subCode,
                  "This ban will last for " + std::to_string(seconds) + " more seconds", pretty);
}

}  // namespace

void Quota::Set(const QuotaOptions& options, std::time_t now) {
  std::lock_guard lock(mutex_);
  options_ = options;
  banStart_ = now;
  banWindow_ = -1;
  bannedMethod_.clear();
}

QuotaOptions Quota::Options() const {
  std::lock_guard lock(mutex_);
  return options_;
}

std::optional<std::string> Quota::Admit(const std::string& appKey, const std::string& method, std::time_t now,
                                        bool pretty) {
  std::lock_guard lock(mutex_);
  if (options_.banEverySeconds > 0 && options_.banSeconds > 0) {
    const long long since = static_cast<long long>(now - banStart_);
    const long long window = since / options_.banEverySeconds;
    const long long into = since - window * options_.banEverySeconds;
    if (since >= 0 && into < options_.banSeconds) {
      if (window != banWindow_) {
        banWindow_ = window;
        bannedMethod_ = options_.banMethod.empty() ? method : options_.banMethod;
        banCounted_ = false;
      }
      if (method == bannedMethod_) {
        ++counts_.banRefusals;
        if (!banCounted_) ++counts_.bans;
        banCounted_ = true;
        return Limited("accesscontrol.limited-by-api-access-count", options_.banSeconds - into, pretty);
      }
    }
  }
  auto& [day, calls] = calls_[appKey];
  if (day != BeijingDay(now)) {
    day = BeijingDay(now);
    calls = 0;
  }
  if (options_.dailyLimit > 0 && calls >= options_.dailyLimit) {
    ++counts_.dailyRefusals;
    const long long untilMidnight = (BeijingDay(now) + 1) * kDay - kBeijingOffset - static_cast<long long>(now);
    return Limited("accesscontrol.limited-by-app-access-count", untilMidnight, pretty);
  }
  ++calls;
  return std::nullopt;
}

void Quota::Spend(const std::string& appKey, long calls, std::time_t now) {
  std::lock_guard lock(mutex_);
  auto& [day, made] = calls_[appKey];
  if (day != BeijingDay(now)) {
    day = BeijingDay(now);
    made = 0;
  }
  made += calls;
}

QuotaCounts Quota::Counts(std::time_t now) const {
  std::lock_guard lock(mutex_);
  QuotaCounts counts = counts_;
  for (const auto& [key, dayCalls] : calls_)
    if (dayCalls.first == BeijingDay(now)) counts.callsToday += dayCalls.second;
  return counts;
}

}  // namespace qm::sandbox
