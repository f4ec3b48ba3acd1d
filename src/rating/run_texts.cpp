#include "rating/run_texts.h"

#include <cstdint>

#include "platform/platform_time.h"

namespace qm {
namespace {

// "MM-DD HH:MM" of the platform's clock.
std::string ClockText() { return FormatPlatformTime(static_cast<std::int64_t>(PlatformNow())).substr(5, 11); }

}  // namespace

std::string LoadingText(int tradesRead) { return "正在读取订单，已读取 " + std::to_string(tradesRead) + " 笔"; }

std::string LoadStatusText(const LoadReport& report) {
  if (!report.databaseOk) return "订单数据库无法使用：" + report.error;
  const std::string counts = "，双方未评价 " + std::to_string(report.unrated) + " 笔";
  if (report.kind == LoadKind::Reload) {
    if (!report.Completed()) return {};
    return "订单重新读取完成（" + ClockText() + "），新增 " + std::to_string(report.added) + " 笔，移除 " +
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
  return "订单读取完成（" + ClockText() + "），" + read;
}

std::string AlertText(const Order& order, const BuyerVerdict& verdict) {
  const std::string grade = verdict.result == "bad" ? "差评" : "中评";
  const std::string comment = verdict.comment.empty() ? std::string(kNoBuyerComment) : verdict.comment;
  return "买家‘" + order.buyerNick + "’给了订单 " + order.tid + " " + grade + "：" + comment;
}

std::string PassStatusText(int rated) {
  return "已自动评价 " + std::to_string(rated) + " 笔（" + ClockText() + "）";
}

}  // namespace qm
