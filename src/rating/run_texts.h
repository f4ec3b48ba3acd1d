#pragma once
// The texts both front ends show for the run's events: the status line of
// the desktop, which the runner prints as "status: " lines, and the alert of
// a buyer's neutral or bad rating.
#include <cstddef>
#include <string>
#include <vector>

#include "rating/rating_log.h"
#include "rating/run_observer.h"

namespace qm {

inline constexpr const char* kAlertTitle = "差评提醒";
// How much of a buyer's comment an announcement quotes; the alert list shows it all.
inline constexpr std::size_t kAlertCommentShown = 120;

// "正在读取订单，已读取 N 笔"
std::string LoadingText(int tradesRead);
// What the status line says at a load's end: "订单读取完成（MM-DD HH:MM），…",
// the incomplete or database texts; for a complete reload "订单重新读取完成…".
// Empty when a reload has nothing to say. The time is `now`, platform time.
std::string LoadStatusText(const LoadReport& report, double now);
// "买家‘NICK’给了订单 TID 差评：COMMENT", the comment cut to kAlertCommentShown characters.
std::string AlertText(const Order& order, const BuyerVerdict& verdict);
// The one announcement of alerts that came together: AlertText for one;
// "3 位买家给了中评或差评"; "2 位买家给了 3 笔订单中评或差评" when a buyer rated
// more than one of them. Empty for none.
std::string AlertsText(const std::vector<BuyerAlert>& alerts);
// "中评", "差评"
std::string VerdictWords(const std::string& result);
// "已自动评价 N 笔（MM-DD HH:MM）"
std::string PassStatusText(int rated, double now);
// What the status line says of a call limit: "应用今日的调用次数已用完，等到
// MM-DD HH:MM:SS 自动继续" for the day's calls, "平台暂停了 METHOD 的调用 N 秒，
// 等到 MM-DD HH:MM:SS 自动继续" for a ban of one method (times in Beijing time).
std::string CallLimitText(const CallLimitWait& wait);

}  // namespace qm
