#pragma once
// What each ten-minute refresh asks the platform besides the lists:
// - posts of earlier runs that got no answer are settled in the rating log
//   (does the platform hold the seller's rating of that order?);
// - the buyer ratings of orders new to the buyer-rated list are read once,
//   remembered per order in the rating log (a restart does not ask again),
//   and a neutral or bad one is announced (MainView::notify and an "alert:"
//   line) and colours its row. A query without a complete answer is neither
//   remembered nor announced: it is asked again at the next refresh.
// Each kind asks at most kChecksPerRefresh orders; the rest wait for the next refresh.
#include <optional>
#include <string>

#include "rating/manual_rating.h"

namespace qm {

inline constexpr int kChecksPerRefresh = 20;
inline constexpr const char* kAlertTitle = "差评提醒";

void RunRefreshChecks();

// The colours of a buyer-rated order whose buyer's rating is known to be
// neutral or bad; nullopt for every other order.
std::optional<NoticeStyle> AlertStyleOf(const std::string& tid);

}  // namespace qm
