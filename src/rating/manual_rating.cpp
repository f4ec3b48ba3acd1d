#include "rating/manual_rating.h"

#include <algorithm>
#include <vector>

#include "orders/order_book.h"
#include "orders/trade_page.h"
#include "platform/platform_time.h"
#include "platform/reply.h"
#include "platform/request.h"
#include "platform/transport.h"
#include "rating/comments.h"
#include "rating/keep_list.h"
#include "rating/post_rating.h"
#include "rating/rating_ledger.h"
#include "rating/seller_run.h"
#include "rating/schedule.h"
#include "settings/app_session.h"
#include "util/clipboard.h"
#include "util/event_pump.h"
#include "util/ports.h"

namespace qm {

std::string check_buyer_rating(const std::string& tid) {
  // A failed, timed-out or cut-off query reads as a rating without result
  // or comment; a text that is no order number is never sent.
  const BuyerVerdict verdict = QueryBuyerRating(tid).value_or(BuyerVerdict{});
  return (verdict.result.empty() ? std::string(kUnfavourableVerdict) : verdict.result) + kVerdictSeparator +
         (verdict.comment.empty() ? std::string(kNoBuyerComment) : verdict.comment);
}

std::optional<BuyerVerdict> QueryBuyerRating(const std::string& tid) {
  if (!IsOrderNumber(tid)) return std::nullopt;
  const std::string reply = decode_reply(web_request(WebRequest::Get(TradeRatesGetUrl(tid))).body);
  PumpEvents();
  if (!CompleteElement(reply, "traderates_get_response")) return std::nullopt;
  // Element texts: the blanks of a pretty-printed reply dropped, the escapes
  // of markup in a buyer's comment decoded to what the buyer wrote.
  return BuyerVerdict{ElementText(extract_between(reply, "<result>", "<")),
                      ElementText(extract_between(reply, "<content>", "<"))};
}

BuyerVerdict SplitVerdict(const std::string& verdict) {
  const std::size_t at = verdict.find(kVerdictSeparator);
  if (at == std::string::npos) return {verdict, {}};
  return {verdict.substr(0, at), verdict.substr(at + std::char_traits<char>::length(kVerdictSeparator))};
}

std::optional<NoticeStyle> NoticeStyleFor(const std::string& result) {
  if (result == "neutral") return NoticeStyle{"客户给了你‘中评’", 0xFF0000, 0xFFFF00};
  if (result == "bad") return NoticeStyle{"客户给了你‘差评’", 0xFFFFFF, 0x000000};
  if (result == kUnfavourableVerdict) return NoticeStyle{kUnfavourableVerdict, 0xFFFFFF, 0x606060};
  return std::nullopt;
}

namespace {

// The buyer of a listed order; empty when it is not listed.
std::string BuyerOf(const OrderRows& rows, const std::string& tid) {
  const int row = rows.Find(tid);
  return row < 0 ? std::string() : rows.Row(row).order.buyerNick;
}

// What the status line says after the seller's own rating of an order:
// what was posted and what the platform made of it. `failed` is set when the
// seller should be told in a box.
std::string AttemptWords(const std::string& tid, const char* what, const RatingAttempt& attempt, bool* failed) {
  *failed = false;
  const std::string order = "订单‘" + tid + "’";
  switch (attempt.verdict) {
    case LedgerVerdict::Rated: return "已对" + order + what + "，平台已接受。";
    case LedgerVerdict::Confirmed:
    case LedgerVerdict::AlreadyRated: return order + "的评价平台上已经有了，不再重复评价。";
    case LedgerVerdict::Refused:
      *failed = true;
      return order + "的" + what + "被平台拒绝：" + (attempt.message.empty() ? "平台没有说明原因" : attempt.message) +
             "。";
    case LedgerVerdict::Unknown:
      return "已对" + order + what + "，平台没有回应；稍后会向平台确认是否收到。";
    case LedgerVerdict::CheckUnanswered:
    case LedgerVerdict::Waiting:
      return order + "暂不评价：上次发出的评价还在等平台确认，或刚被拒绝，稍后再试。";
    case LedgerVerdict::NotLogged:
      *failed = true;
      return order + "的" + what + "未发出：评价记录无法写入（" + attempt.problem + "），稍后再试。";
    case LedgerVerdict::Busy: break;
  }
  return {};
}

void SayAttempt(MainView* view, const std::string& caption, const std::string& tid, const char* what,
                const RatingAttempt& attempt) {
  bool failed = false;
  const std::string words = AttemptWords(tid, what, attempt, &failed);
  if (words.empty() || view == nullptr) return;
  if (view->setStatus) view->setStatus(words);
  if (failed && view->prompts != nullptr) view->prompts->Warn(caption, words);
}

// Rates the current order of the both-unrated list "good" with the standing
// comment once the user has said OK to `question`.
void RateCurrentUnrated(const char* questionEnd) {
  OrderBook* book = CurrentOrderBook();
  MainView* view = CurrentMainView();
  if (book == nullptr || view == nullptr || view->prompts == nullptr) return;
  const std::string tid = book->Unrated().CurrentOrder();
  if (tid.empty()) return;
  if (!view->prompts->Question(kRateOrderCaption, "确定要对订单号‘" + tid + questionEnd)) return;
  // While the question waited, the automatic pass may have rated the order
  // or the refresh found its buyer's rating: then there is nothing to say "good" to.
  if (!book->Unrated().Contains(tid)) return;
  const std::string comment = Session().autoContent;
  const RatingNote note{BuyerOf(book->Unrated(), tid), RatingStart::Early};
  const RatingAttempt attempt = Ledger().Rate(tid, kResultGood, comment, note);
  if (attempt.Done()) book->Unrated().Remove(tid);
  SayAttempt(view, kRateOrderCaption, tid, "评价“好评”", attempt);
}

// The rating-page window for an order the seller answered; its row goes when
// the user closed the window as modified.
void FinishOnRatingPage(const std::string& tid) {
  MainView* view = CurrentMainView();
  if (view == nullptr || !view->openRatingPage) return;
  if (!view->openRatingPage()) return;
  if (OrderBook* book = CurrentOrderBook()) book->BuyerRated().Remove(tid);
}

void CopyFrom(OrderRows& rows, CopyWhat what) {
  const int row = rows.Find(rows.CurrentOrder());
  if (row < 0) return;
  const Order& order = rows.Row(row).order;
  SetClipboardText(what == CopyWhat::OrderNumber ? order.tid : order.buyerNick);
}

}  // namespace

void rate_on_first_list_double_click() { RateCurrentUnrated("’进行评价吗？ "); }

void rate_early_from_menu() { RateCurrentUnrated("’提前评价吗？ "); }

void answer_on_second_list_double_click() {
  OrderBook* book = CurrentOrderBook();
  MainView* view = CurrentMainView();
  if (book == nullptr || view == nullptr) return;
  const std::string tid = book->BuyerRated().CurrentOrder();
  if (tid.empty()) return;
  // A "bad" rating cannot be taken back: asked first, as the early rating is.
  if (view->prompts != nullptr && !view->prompts->Ask(kAnswerCaption, "确定要对订单号‘" + tid + "’回评“差评”吗？")) {
    return;
  }
  if (!book->BuyerRated().Contains(tid)) return;
  const std::string buyer = BuyerOf(book->BuyerRated(), tid);
  const std::string comment = ReadManualComment(tid);
  const RatingAttempt attempt = Ledger().Rate(tid, kResultBad, comment, {buyer, RatingStart::Answer});
  // Another call is posting this very order (a second double-click inside the
  // first one's wait): that call finishes the answer.
  if (attempt.verdict == LedgerVerdict::Busy) return;
  SayAttempt(view, kAnswerCaption, tid, "回评“差评”", attempt);
  if (attempt.verdict == LedgerVerdict::NotLogged) return;  // not sent: the order stays
  // An order rated elsewhere already: the rating page shows what the platform
  // holds, and the seller may change it there.
  if (!attempt.Done() || attempt.verdict == LedgerVerdict::AlreadyRated) {
    FinishOnRatingPage(tid);
    return;
  }
  const BuyerVerdict verdict = SplitVerdict(check_buyer_rating(tid));
  if (verdict.result == kResultGood) {
    FinishOnRatingPage(tid);
    return;
  }
  const std::optional<NoticeStyle> style = NoticeStyleFor(verdict.result);
  if (!style) return;
  if (view->showNotice) {
    // The body's heading is the layout's; the tooltip says whose words they are.
    view->showNotice(Notice{style->line, kNoticeCommentPrefix + verdict.comment,
                            "下面是买家‘" + buyer + "’给订单‘" + tid + "’的评语（不是卖家的）。", style->textColour,
                            style->background});
  }
  book->BuyerRated().Remove(tid);
}

void WriteOrderComment() {
  OrderBook* book = CurrentOrderBook();
  MainView* view = CurrentMainView();
  if (book == nullptr || view == nullptr || view->prompts == nullptr) return;
  OrderRows& rows = book->Unrated();
  const int row = rows.Find(rows.CurrentOrder());
  if (row < 0) return;
  const Order order = rows.Row(row).order;
  const std::optional<std::string> text =
      view->prompts->Input(kOrderCommentCaption, "‘" + order.buyerNick + "’的评语。", kOrderCommentInitial);
  if (!text) return;
  if (!AddOrderComment(order.tid, *text)) {
    view->prompts->Information(kOrderCommentCaption,
                               "订单‘" + order.tid +
                                   "’的评语没有保存：评语不能为空，不能换行，只能使用GBK编码能表示的字符，"
                                   "且“" + kManualCommentFile + "”必须可以写入。");
  }
}

void RateSelectedBuyerRated() {
  OrderBook* book = CurrentOrderBook();
  MainView* view = CurrentMainView();
  if (book == nullptr || view == nullptr) return;
  OrderRows& rows = book->BuyerRated();
  if (rows.CurrentOrder().empty()) return;
  // Taken by number at the start: the refresh may rebuild the list inside any post's wait.
  const std::vector<std::string> chosen = rows.SelectedOrders();
  if (chosen.empty()) return;
  const std::string question = chosen.size() == 1 ? "确定要对订单号‘" + chosen.front() + "’回评“差评”吗？"
                                                  : "确定要对选中的 " + std::to_string(chosen.size()) +
                                                        " 笔订单回评“差评”吗？";
  if (view->prompts != nullptr && !view->prompts->Ask(kAnswerCaption, question)) return;
  int taken = 0;
  std::string firstFailure;
  for (auto it = chosen.rbegin(); it != chosen.rend(); ++it) {
    const std::string comment = ReadManualComment(*it);
    const RatingAttempt attempt = Ledger().Rate(*it, kResultBad, comment, {BuyerOf(rows, *it), RatingStart::Selection});
    if (attempt.verdict == LedgerVerdict::NotLogged) {
      bool failed = false;
      if (firstFailure.empty()) firstFailure = AttemptWords(*it, "回评“差评”", attempt, &failed);
      continue;  // not sent: the order stays
    }
    if (attempt.Done()) {
      ++taken;
    } else if (firstFailure.empty()) {
      bool failed = false;
      firstFailure = AttemptWords(*it, "回评“差评”", attempt, &failed);
    }
    // The rating-page window below lets the user check what the platform took.
    rows.Remove(*it);
  }
  if (view->setStatus) {
    const int total = static_cast<int>(chosen.size());
    view->setStatus(taken == total ? "已回评 " + std::to_string(total) + " 笔“差评”，平台都已接受。"
                                   : "已回评 " + std::to_string(total) + " 笔“差评”，平台接受 " + std::to_string(taken) +
                                         " 笔；" + firstFailure);
  }
  if (view->openRatingPage) view->openRatingPage();
}

void KeepCurrentOrder(bool keep, bool wholeBuyer) {
  OrderBook* book = CurrentOrderBook();
  MainView* view = CurrentMainView();
  if (book == nullptr) return;
  OrderRows& rows = book->Unrated();
  const int row = rows.Find(rows.CurrentOrder());
  if (row < 0) return;
  const Order order = rows.Row(row).order;
  KeepList& kept = Kept();
  kept.Refresh();
  const bool ok = wholeBuyer ? (keep ? kept.KeepBuyer(order.buyerNick) : kept.ReleaseBuyer(order.buyerNick))
                             : (keep ? kept.KeepOrder(order.tid) : kept.ReleaseOrder(order.tid));
  if (!ok) {
    if (view != nullptr && view->prompts != nullptr) {
      view->prompts->Information(kKeptTimeLeft, "“" + KeepListFileName(Session().sellerNick) + "”无法保存" +
                                                    (wholeBuyer ? "买家‘" + order.buyerNick + "’" : "订单‘" + order.tid + "’") +
                                                    "（名称含有“=”、“]”、换行或GBK无法表示的字符，或文件无法写入）。");
    }
    return;
  }
  // The rows it concerns show what the next pass will do with them.
  const double now = PlatformNow();
  for (int i = 0; i < rows.RowCount(); ++i) {
    const Order& o = rows.Row(i).order;
    if (o.tid != order.tid && !(wholeBuyer && o.buyerNick == order.buyerNick)) continue;
    if (kept.Keeps(o)) {
      rows.SetTimeLeft(i, kKeptTimeLeft);
    } else if (const auto left = TimeLeftText(o.endTime, now)) {
      rows.SetTimeLeft(i, *left);
    }
  }
}

void CopyFromUnrated(CopyWhat what) {
  if (OrderBook* book = CurrentOrderBook()) CopyFrom(book->Unrated(), what);
}

void CopyFromBuyerRated(CopyWhat what) {
  if (OrderBook* book = CurrentOrderBook()) CopyFrom(book->BuyerRated(), what);
}

}  // namespace qm
