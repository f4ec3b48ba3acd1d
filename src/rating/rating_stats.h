#pragma once
// The shop's ratings per day, and the run's platform requests, as the 统计
// view shows them: read from the rating log alone, so that opening the view
// asks the platform nothing.
#include <string>
#include <vector>

#include "rating/rating_log.h"

namespace qm {

struct DayFigures {
  std::string day;  // "YYYY-MM-DD", Beijing time
  // Ratings the program gave that the platform took.
  int automatic = 0, early = 0, answered = 0;
  // Buyers' ratings the refreshes and checks read.
  int good = 0, neutral = 0, bad = 0;
  // Requests the runs made to the platform.
  int requests = 0;
};

// The last `days` days up to today (the platform's clock), oldest first;
// days without figures are there with zeros.
std::vector<DayFigures> DailyFigures(RatingLog& log, int days);

// UTF-8 with a byte order mark, CRLF: 日期, 自动, 提前, 回评, 好评, 中评, 差评, 请求.
std::string DailyFiguresCsv(const std::vector<DayFigures>& figures);

}  // namespace qm
