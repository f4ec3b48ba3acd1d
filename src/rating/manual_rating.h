#pragma once
// The seller's own ratings from the two lists, and the buyer-rating check
// that follows an answer.
//
// On the both-unrated list a double-click ("rate now") and the menu item
// "提前评价" ("rate early") rate the current order "good" with the standing
// comment after a question. On the buyer-rated list a double-click answers in
// kind: it reads what the buyer gave first, then asks with the buyer's rating
// and words and the reply ("good" with the standing comment for a good
// buyer, "bad" with the order's prepared comment from 手动评价内容.ini for a
// neutral or bad one), and posts it; the rating-page window opens only when
// the post fails. With 回评方式=先差评 it answers "bad" first and reads the
// buyer's rating after, as the original program did. "评价选中订单" answers
// every selected order, last to first.
//
// Everything runs on the UI thread on the run it is given and the view in its
// ports; orders are taken from the book by number, never by a row kept
// until a post's answer, and every post goes through the run's ledger, whose
// answers carry each action on.
#include <string>

#include "rating/buyer_verdict.h"

namespace qm {

class SellerRun;

inline constexpr const char* kRateOrderCaption = " 评价订单";
inline constexpr const char* kAnswerCaption = " 回评订单";
inline constexpr const char* kOrderCommentCaption = "为该订单写单独的评语。";
inline constexpr const char* kOrderCommentInitial = "欢迎光临！";
// Above the buyer's words in the notice.
inline constexpr const char* kNoticeCommentPrefix = "买家给的评语是：\r\n";

// The list actions (see above). Each does nothing without a current order.
void rate_on_first_list_double_click(SellerRun& run);
void rate_early_from_menu(SellerRun& run);
void answer_on_second_list_double_click(SellerRun& run);
// "单独评语": the comment of the current unrated order, asked for in a box.
void WriteOrderComment(SellerRun& run);
// "评价选中订单".
void RateSelectedBuyerRated(SellerRun& run);

// "不自动评价" / "恢复自动评价" for the current unrated order, and the same for
// every order of its buyer (wholeBuyer). The rows' 到期 change at once; a
// name the keep list cannot hold is said in a box.
void KeepCurrentOrder(SellerRun& run, bool keep, bool wholeBuyer);

// The copy items: the order number or buyer of the current order of a list.
enum class CopyWhat { OrderNumber, Buyer };
void CopyFromUnrated(SellerRun& run, CopyWhat what);
void CopyFromBuyerRated(SellerRun& run, CopyWhat what);

}  // namespace qm
