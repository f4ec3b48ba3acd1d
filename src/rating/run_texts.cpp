#include "rating/run_texts.h"

#include <cmath>
#include <cstdint>
#include <unordered_set>

#include "platform/platform_time.h"

namespace qm {
namespace {

// At most `limit` characters of `text` (whole UTF-8 sequences), "…" after a cut.
std::string CutText(const std::string& text, std::size_t limit) {
  std::size_t at = 0;
  for (std::size_t shown = 0; at < text.size() && shown < limit; ++shown) {
    ++at;
    while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
  }
  return at >= text.size() ? text : text.substr(0, at) + "…";
}

// "MM-DD HH:MM" of a platform time.
std::string ClockText(double now) { return FormatPlatformTime(static_cast<std::int64_t>(now)).substr(5, 11); }

}  // namespace

std::string LoadingText(int tradesRead) { return "正在读取订单，已读取 " + std::to_string(tradesRead) + " 笔"; }

std::string LoadStatusText(const LoadReport& report, double now) {
  if (!report.databaseOk) return "订单数据库无法使用：" + report.error;
  const std::string counts = "，双方未评价 " + std::to_string(report.unrated) + " 笔";
  if (report.kind == LoadKind::Reload) {
    if (!report.Completed()) return {};
    return "订单重新读取完成（" + ClockText(now) + "），新增 " + std::to_string(report.added) + " 笔，移除 " +
           std::to_string(report.dropped) + " 笔" + counts;
  }
  const std::string read = "共读取 " + std::to_string(report.TradesRead()) + " 笔" + counts;
  if (!report.Completed()) {
    const int page = report.FailedPage();
    const bool repeated = report.buyerSide.end == ListingEnd::Repeated || report.sellerSide.end == ListingEnd::Repeated;
    const std::string why = page > 0 && !repeated ? "第 " + std::to_string(page) + " 页多次读取失败"
                            : page > 0            ? "第 " + std::to_string(page) + " 页与前面的页重复"
                                                  : "列表不完整";
    return "订单读取未完成：" + why + "，" + read + "，下次刷新时重新读取";
  }
  return "订单读取完成（" + ClockText(now) + "），" + read;
}

std::string VerdictWords(const std::string& result) { return result == "bad" ? "差评" : "中评"; }

std::string AlertText(const Order& order, const BuyerVerdict& verdict) {
  const std::string comment = verdict.comment.empty() ? std::string(kNoBuyerComment) : verdict.comment;
  return "买家‘" + order.buyerNick + "’给了订单 " + order.tid + " " + VerdictWords(verdict.result) + "：" +
         CutText(comment, kAlertCommentShown);
}

std::string AlertsText(const std::vector<BuyerAlert>& alerts) {
  if (alerts.empty()) return {};
  if (alerts.size() == 1) {
    const BuyerAlert& a = alerts.front();
    return AlertText(Order{a.tid, a.buyer, {}}, BuyerVerdict{a.result, a.comment});
  }
  std::unordered_set<std::string> buyers;
  for (const BuyerAlert& a : alerts) buyers.insert(a.buyer);
  const std::string who = std::to_string(buyers.size()) + " 位买家给了";
  if (buyers.size() == alerts.size()) return who + "中评或差评";
  return who + " " + std::to_string(alerts.size()) + " 笔订单中评或差评";
}

std::string PassStatusText(int rated, double now) {
  return "已自动评价 " + std::to_string(rated) + " 笔（" + ClockText(now) + "）";
}

std::string CallLimitText(const CallLimitWait& wait) {
  const std::string until =
      FormatPlatformTime(static_cast<std::int64_t>(std::ceil(wait.until))).substr(5) + " 自动继续";
  if (wait.daily) return "应用今日的调用次数已用完，等到 " + until;
  return "平台暂停了 " + wait.method + " 的调用 " + std::to_string(std::llround(wait.seconds)) + " 秒，等到 " + until;
}

}  // namespace qm
