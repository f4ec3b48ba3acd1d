#include "rating/manual_rating.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "orders/order_book.h"
#include "orders/trade_page.h"
#include "platform/platform_time.h"
#include "rating/comments.h"
#include "rating/keep_list.h"
#include "rating/post_rating.h"
#include "rating/rating_ledger.h"
#include "rating/run_worker.h"
#include "rating/seller_run.h"
#include "rating/schedule.h"
#include "settings/config.h"
#include "util/ports.h"
#include "util/stop.h"

namespace qm {

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

// Goes on with `then` once the seller has said OK to `question` (at once
// when nothing can ask). The action returns before the answer: whatever
// `then` works on is looked up again there, as the lists may have changed.
void OnOk(MainView* view, const char* caption, const std::string& question, bool cannotUndo,
          std::function<void()> then) {
  if (view->prompts == nullptr) return then();
  view->prompts->Confirm(caption, question, cannotUndo, [then = std::move(then)](bool ok) {
    if (ok) then();
  });
}

// Rates the current order of the both-unrated list "good" with the standing
// comment once the user has said OK to `question`.
void RateCurrentUnrated(SellerRun& run, const char* questionEnd) {
  MainView* view = run.Ports().view;
  if (view == nullptr || view->prompts == nullptr) return;
  OrderRows& rows = run.Book().Unrated();
  const std::string tid = rows.CurrentOrder();
  if (tid.empty()) return;
  // The seller sees what goes out: "good" and the comment it carries.
  const std::string comment = run.NextComment();
  const std::string question =
      "确定要对订单号‘" + tid + questionEnd + "\n\n将评价“好评”，评语：" + (comment.empty() ? "（无）" : comment);
  OnOk(view, kRateOrderCaption, question, false, [&run, tid, comment] {
    // While the question waited, the automatic pass may have rated the order
    // or the refresh found its buyer's rating: then there is nothing to say "good" to.
    OrderRows& unrated = run.Book().Unrated();
    if (!unrated.Contains(tid)) return;
    RatingRequest request{tid, kResultGood, comment, {BuyerOf(unrated, tid), RatingStart::Early}};
    run.Ledger().Rate(std::move(request), [&run, tid](const RatingAttempt& attempt) {
      if (attempt.Done()) run.Book().Unrated().Remove(tid);
      SayAttempt(run.Ports().view, kRateOrderCaption, tid, "评价“好评”", attempt);
    });
  });
}

// The rating-page window for an order the seller answered; its row goes when
// the user closed the window as modified.
void FinishOnRatingPage(SellerRun& run, const std::string& tid) {
  MainView* view = run.Ports().view;
  if (view == nullptr || !view->openRatingPage) return;
  if (!view->openRatingPage()) return;
  run.Book().BuyerRated().Remove(tid);
}

// What the buyer gave for an order the seller has answered: a good rating
// leads to the rating page, a neutral, bad or unreadable one to the notice.
void ShowBuyerVerdict(SellerRun& run, const std::string& tid, const std::string& buyer,
                      const std::optional<BuyerVerdict>& found) {
  // A failed, timed-out or cut-off query counts as a rating without result
  // or comment.
  BuyerVerdict verdict = found.value_or(BuyerVerdict{});
  if (verdict.result.empty()) verdict.result = kUnfavourableVerdict;
  if (verdict.comment.empty()) verdict.comment = kNoBuyerComment;
  if (verdict.result == kResultGood) {
    FinishOnRatingPage(run, tid);
    return;
  }
  const std::optional<NoticeStyle> style = NoticeStyleFor(verdict.result);
  if (!style) return;
  MainView* view = run.Ports().view;
  if (view != nullptr && view->showNotice) {
    // The body's heading is the layout's; the tooltip says whose words they are.
    view->showNotice(Notice{style->line, kNoticeCommentPrefix + verdict.comment,
                            "下面是买家‘" + buyer + "’给订单‘" + tid + "’的评语（不是卖家的）。", style->textColour,
                            style->background});
  }
  run.Book().BuyerRated().Remove(tid);
}

void CopyFrom(const SellerRun& run, const OrderRows& rows, CopyWhat what) {
  const int row = rows.Find(rows.CurrentOrder());
  const MainView* view = run.Ports().view;
  if (row < 0 || view == nullptr || view->clipboard == nullptr) return;
  const Order& order = rows.Row(row).order;
  view->clipboard->SetText(what == CopyWhat::OrderNumber ? order.tid : order.buyerNick);
}

}  // namespace

void rate_on_first_list_double_click(SellerRun& run) { RateCurrentUnrated(run, "’进行评价吗？ "); }

void rate_early_from_menu(SellerRun& run) { RateCurrentUnrated(run, "’提前评价吗？ "); }

namespace {

void AnswerBad(SellerRun& run, const std::string& tid);

// The original answer: "bad" first, then the buyer's rating is read; a good
// buyer leads to the rating page. Kept for sellers who choose it (回评方式=先差评).
void AnswerBadFirstFlow(SellerRun& run) {
  MainView* view = run.Ports().view;
  if (view == nullptr) return;
  OrderRows& rows = run.Book().BuyerRated();
  const std::string tid = rows.CurrentOrder();
  if (tid.empty()) return;
  // A "bad" rating cannot be taken back: asked first, as the early rating is.
  OnOk(view, kAnswerCaption, "确定要对订单号‘" + tid + "’回评“差评”吗？", true, [&run, tid] { AnswerBad(run, tid); });
}

// The seller said OK to a "bad" answer: it goes out, then the buyer's rating is read.
void AnswerBad(SellerRun& run, const std::string& tid) {
  OrderRows& rows = run.Book().BuyerRated();
  if (!rows.Contains(tid)) return;
  const std::string buyer = BuyerOf(rows, tid);
  RatingRequest request{tid, kResultBad, ReadManualComment(run.RunAccount().dataDir, tid), {buyer, RatingStart::Answer}};
  run.Ledger().Rate(std::move(request), [&run, tid, buyer](const RatingAttempt& attempt) {
    // Another call is posting this very order (a second double-click before
    // the first one's answer): that call finishes the answer.
    if (attempt.verdict == LedgerVerdict::Busy) return;
    SayAttempt(run.Ports().view, kAnswerCaption, tid, "回评“差评”", attempt);
    if (attempt.verdict == LedgerVerdict::NotLogged) return;  // not sent: the order stays
    // An order rated elsewhere already: the rating page shows what the platform
    // holds, and the seller may change it there.
    if (!attempt.Done() || attempt.verdict == LedgerVerdict::AlreadyRated) {
      FinishOnRatingPage(run, tid);
      return;
    }
    run.Worker().Run<std::optional<BuyerVerdict>>(
        [tid, account = run.RunAccount()] { return QueryBuyerRating(tid, account); },
        [&run, tid, buyer](std::optional<BuyerVerdict> found) { ShowBuyerVerdict(run, tid, buyer, found); });
  });
}

}  // namespace

namespace {

const char* ResultWord(const std::string& result) {
  if (result == kResultGood) return "好评";
  if (result == "neutral") return "中评";
  if (result == kResultBad) return "差评";
  return "未知评价";
}

// What an answer in kind posts for what the buyer gave: "good" with the
// standing comment for a good buyer, "bad" with the order's prepared comment
// for a neutral or bad one.
struct InKind {
  std::string result;
  std::string comment;
};
InKind ReplyTo(SellerRun& run, const std::string& tid, const BuyerVerdict& verdict) {
  if (verdict.result == kResultGood) return {kResultGood, run.NextComment()};
  return {kResultBad, ReadManualComment(run.RunAccount().dataDir, tid)};
}

// One line of a question: what the buyer gave and wrote, and the reply.
std::string VerdictLine(const std::string& tid, const std::string& buyer, const BuyerVerdict& verdict,
                        const InKind& reply) {
  return "订单‘" + tid + "’，买家‘" + buyer + "’给了“" + ResultWord(verdict.result) + "”" +
         (verdict.comment.empty() ? std::string() : "，评语：" + verdict.comment) + "\n回评“" +
         ResultWord(reply.result) + "”，评语：" + reply.comment;
}

// The buyer's verdict is back: the seller sees it and the reply, and the
// reply goes out on OK. The rating page only when the post fails.
void AnswerInKind(SellerRun& run, const std::string& tid, const std::string& buyer,
                  const std::optional<BuyerVerdict>& found) {
  MainView* view = run.Ports().view;
  OrderRows& rows = run.Book().BuyerRated();
  if (view == nullptr || !rows.Contains(tid)) return;
  if (!found || !found->Rated()) {
    const std::string words = "买家对订单‘" + tid + "’的评价没有读到（平台没有回应），没有回评，请稍后再试。";
    if (view->setStatus) view->setStatus(words);
    if (view->prompts != nullptr) view->prompts->Warn(kAnswerCaption, words);
    return;
  }
  const BuyerVerdict verdict = *found;
  const InKind reply = ReplyTo(run, tid, verdict);
  const std::string question =
      VerdictLine(tid, buyer, verdict, reply) + "\n\n确定要回评“" + ResultWord(reply.result) + "”吗？";
  OnOk(view, kAnswerCaption, question, true, [&run, tid, buyer, verdict, reply] {
    if (!run.Book().BuyerRated().Contains(tid)) return;
    const std::string what = std::string("回评“") + ResultWord(reply.result) + "”";
    RatingRequest request{tid, reply.result, reply.comment, {buyer, RatingStart::Answer}};
    run.Ledger().Rate(std::move(request), [&run, tid, buyer, verdict, what](const RatingAttempt& attempt) {
      if (attempt.verdict == LedgerVerdict::Busy) return;
      SayAttempt(run.Ports().view, kAnswerCaption, tid, what.c_str(), attempt);
      if (attempt.verdict == LedgerVerdict::NotLogged) return;  // not sent: the order stays
      if (!attempt.Done() || attempt.verdict == LedgerVerdict::AlreadyRated) {
        // The platform did not take it, or holds a rating already: the rating
        // page shows what it holds, and the seller may change it there.
        FinishOnRatingPage(run, tid);
        return;
      }
      run.Book().BuyerRated().Remove(tid);
      // A neutral or bad buyer's words stay in view, in the warning's colours.
      if (verdict.Unfavourable()) ShowBuyerVerdict(run, tid, buyer, verdict);
    });
  });
}

}  // namespace

void answer_on_second_list_double_click(SellerRun& run) {
  MainView* view = run.Ports().view;
  if (view == nullptr) return;
  if (run.Settings().answerBadFirst) return AnswerBadFirstFlow(run);
  OrderRows& rows = run.Book().BuyerRated();
  const std::string tid = rows.CurrentOrder();
  if (tid.empty() || run.Ledger().InFlight(tid)) return;
  const std::string buyer = BuyerOf(rows, tid);
  if (view->setStatus) view->setStatus("正在读取买家对订单‘" + tid + "’的评价…");
  // First what the buyer gave, so that the question can say it.
  run.Worker().Run<std::optional<BuyerVerdict>>(
      [tid, account = run.RunAccount()] { return QueryBuyerRating(tid, account); },
      [&run, tid, buyer](std::optional<BuyerVerdict> found) { AnswerInKind(run, tid, buyer, found); });
}

void WriteOrderComment(SellerRun& run) {
  MainView* view = run.Ports().view;
  if (view == nullptr || view->prompts == nullptr) return;
  OrderRows& rows = run.Book().Unrated();
  const int row = rows.Find(rows.CurrentOrder());
  if (row < 0) return;
  const Order order = rows.Row(row).order;
  // The box starts from the order's own comment, or the standing one.
  std::string initial = StoredManualComment(run.RunAccount().dataDir, order.tid).value_or(run.Settings().FirstComment());
  if (initial.empty()) initial = kOrderCommentInitial;
  const std::optional<std::string> text =
      view->prompts->Input(kOrderCommentCaption, "‘" + order.buyerNick + "’的评语。", initial);
  if (!text) return;
  if (!AddOrderComment(run.RunAccount().dataDir, order.tid, TrimmedComment(*text))) {
    view->prompts->Information(kOrderCommentCaption,
                               "订单‘" + order.tid +
                                   "’的评语没有保存：评语不能为空，不能换行，只能使用GBK编码能表示的字符，"
                                   "且“" + kManualCommentFile + "”必须可以写入。");
    return;
  }
  if (view->setStatus) view->setStatus("订单‘" + order.tid + "’的单独评语已保存。");
}

namespace {

// "评价选中订单": the chosen orders are answered one after the other, each
// post once the one before it is back.
struct SelectionAnswer {
  struct Reply {
    std::string tid;  // by number: the lists may change between the posts
    std::string result;
    std::string comment;
  };
  SellerRun* run = nullptr;
  bool inKind = true;
  std::vector<Reply> replies;  // in the order they go out
  std::size_t next = 0;
  int taken = 0;
  int good = 0;
  int failed = 0;
  std::string firstFailure;
};

void SaySelectionEnd(const SelectionAnswer& state) {
  MainView* view = state.run->Ports().view;
  if (view == nullptr) return;
  const int total = static_cast<int>(state.replies.size());
  if (view->setStatus) {
    const std::string what = state.inKind ? "已回评 " + std::to_string(total) + " 笔（好评 " + std::to_string(state.good) +
                                                " 笔，差评 " + std::to_string(total - state.good) + " 笔）"
                                          : "已回评 " + std::to_string(total) + " 笔“差评”";
    view->setStatus(state.taken == total ? what + "，平台都已接受。"
                                         : what + "，平台接受 " + std::to_string(state.taken) + " 笔；" + state.firstFailure);
  }
  // The rating page lets the seller check what the platform took: after the
  // original answer always, after answers in kind when one failed.
  if ((!state.inKind || state.failed > 0) && view->openRatingPage) view->openRatingPage();
}

void AnswerNextSelected(std::shared_ptr<SelectionAnswer> state) {
  SellerRun& run = *state->run;
  if (state->next >= state->replies.size()) return SaySelectionEnd(*state);
  const SelectionAnswer::Reply reply = state->replies[state->next++];
  const std::string words = std::string("回评“") + ResultWord(reply.result) + "”";
  RatingRequest request{reply.tid, reply.result, reply.comment,
                        {BuyerOf(run.Book().BuyerRated(), reply.tid), RatingStart::Selection}};
  run.Ledger().Rate(std::move(request), [state, reply, words](const RatingAttempt& attempt) {
    OrderRows& list = state->run->Book().BuyerRated();
    bool failed = false;
    if (attempt.Done()) {
      ++state->taken;
      if (reply.result == kResultGood) ++state->good;
    } else {
      ++state->failed;
      if (state->firstFailure.empty()) state->firstFailure = AttemptWords(reply.tid, words.c_str(), attempt, &failed);
    }
    // Not sent: the order stays. Otherwise it leaves the list; the rating
    // page shows the seller what the platform took.
    if (attempt.verdict != LedgerVerdict::NotLogged && (attempt.Done() || !state->inKind)) list.Remove(reply.tid);
    // The next post starts from the event loop, not inside this answer, and
    // only while the run lasts (a report of its worker is dropped after it).
    state->run->Worker().Run<bool>([] { return true; }, [state](bool) { AnswerNextSelected(state); });
  });
}

using FoundVerdicts = std::vector<std::pair<std::string, std::optional<BuyerVerdict>>>;

// The buyers' ratings of the chosen orders are back: one question lists
// them with the replies, and the replies go out on OK.
void AnswerSelectedInKind(SellerRun& run, const FoundVerdicts& found) {
  MainView* view = run.Ports().view;
  if (view == nullptr) return;
  OrderRows& rows = run.Book().BuyerRated();
  auto state = std::make_shared<SelectionAnswer>();
  state->run = &run;
  std::string lines;
  int unread = 0;
  for (const auto& [tid, verdict] : found) {
    if (!rows.Contains(tid)) continue;
    if (!verdict || !verdict->Rated()) {
      ++unread;
      continue;
    }
    const InKind reply = ReplyTo(run, tid, *verdict);
    if (state->replies.size() < 10) lines += VerdictLine(tid, BuyerOf(rows, tid), *verdict, reply) + "\n";
    state->replies.push_back({tid, reply.result, reply.comment});
  }
  const std::string skipped =
      unread > 0 ? "另有 " + std::to_string(unread) + " 笔订单的买家评价没有读到，这次不回评。" : std::string();
  if (state->replies.empty()) {
    if (view->setStatus) view->setStatus(skipped.empty() ? "选中的订单都已不在列表中。" : skipped);
    return;
  }
  if (state->replies.size() > 10) lines += "……以及另外 " + std::to_string(state->replies.size() - 10) + " 笔\n";
  const std::string question = lines + skipped + "\n确定要回评这 " + std::to_string(state->replies.size()) + " 笔订单吗？";
  OnOk(view, kAnswerCaption, question, true, [state] { AnswerNextSelected(state); });
}

}  // namespace

void RateSelectedBuyerRated(SellerRun& run) {
  MainView* view = run.Ports().view;
  if (view == nullptr) return;
  OrderRows& rows = run.Book().BuyerRated();
  if (rows.CurrentOrder().empty()) return;
  std::vector<std::string> chosen = rows.SelectedOrders();
  if (chosen.empty()) return;
  // Last to first.
  std::reverse(chosen.begin(), chosen.end());
  if (!run.Settings().answerBadFirst) {
    if (view->setStatus) view->setStatus("正在读取选中的 " + std::to_string(chosen.size()) + " 笔订单的买家评价…");
    run.Worker().Run<FoundVerdicts>(
        [chosen, account = run.RunAccount()] {
          FoundVerdicts found;
          for (const std::string& tid : chosen) {
            if (StopRequested()) break;
            found.emplace_back(tid, QueryBuyerRating(tid, account));
          }
          return found;
        },
        [&run](FoundVerdicts found) { AnswerSelectedInKind(run, found); });
    return;
  }
  auto state = std::make_shared<SelectionAnswer>();
  state->run = &run;
  state->inKind = false;
  for (const std::string& tid : chosen) state->replies.push_back({tid, kResultBad, ReadManualComment(run.RunAccount().dataDir, tid)});
  const std::string question = chosen.size() == 1 ? "确定要对订单号‘" + chosen.front() + "’回评“差评”吗？"
                                                  : "确定要对选中的 " + std::to_string(chosen.size()) +
                                                        " 笔订单回评“差评”吗？";
  OnOk(view, kAnswerCaption, question, true, [state] { AnswerNextSelected(state); });
}

void KeepCurrentOrder(SellerRun& run, bool keep, bool wholeBuyer) {
  MainView* view = run.Ports().view;
  OrderRows& rows = run.Book().Unrated();
  const int row = rows.Find(rows.CurrentOrder());
  if (row < 0) return;
  const Order order = rows.Row(row).order;
  KeepList& kept = run.Keep();
  kept.Refresh();
  const bool ok = wholeBuyer ? (keep ? kept.KeepBuyer(order.buyerNick) : kept.ReleaseBuyer(order.buyerNick))
                             : (keep ? kept.KeepOrder(order.tid) : kept.ReleaseOrder(order.tid));
  if (!ok) {
    if (view != nullptr && view->prompts != nullptr) {
      view->prompts->Information(kKeptTimeLeft, "“" + KeepListFileName(run.RunAccount().sellerNick) + "”无法保存" +
                                                    (wholeBuyer ? "买家‘" + order.buyerNick + "’" : "订单‘" + order.tid + "’") +
                                                    "（名称含有“=”、“]”、换行或GBK无法表示的字符，或文件无法写入）。");
    }
    return;
  }
  // The rows it concerns show what the next pass will do with them.
  const double now = run.Clock().Now();
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

void CopyFromUnrated(SellerRun& run, CopyWhat what) { CopyFrom(run, run.Book().Unrated(), what); }

void CopyFromBuyerRated(SellerRun& run, CopyWhat what) { CopyFrom(run, run.Book().BuyerRated(), what); }

}  // namespace qm
