#include "rating/alert_list.h"

#include <algorithm>
#include <cstdint>

#include "platform/platform_time.h"

namespace qm {

void AlertList::Load() {
  unseen_ = log_.UnseenAlerts();
  for (const BuyerAlert& alert : unseen_) raised_.insert(alert.tid);
}

bool AlertList::Raise(const Order& order, const BuyerVerdict& verdict) {
  if (raised_.count(order.tid) != 0) return false;
  BuyerAlert alert{order.tid, order.buyerNick, verdict.result, verdict.comment,
                   FormatPlatformTime(static_cast<std::int64_t>(log_.Clock().Now()))};
  if (log_.KeepAlert(alert, verdict) == AlertStored::Known) {
    raised_.insert(order.tid);
    return false;
  }
  raised_.insert(order.tid);
  unseen_.push_back(std::move(alert));
  return true;
}

bool AlertList::MarkSeen(const std::vector<std::string>& tids) {
  const std::unordered_set<std::string> seen(tids.begin(), tids.end());
  std::vector<std::string> marked;
  std::erase_if(unseen_, [&seen, &marked](const BuyerAlert& alert) {
    if (seen.count(alert.tid) == 0) return false;
    marked.push_back(alert.tid);
    return true;
  });
  return log_.MarkAlertsSeen(marked);
}

}  // namespace qm
