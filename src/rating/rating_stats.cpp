#include "rating/rating_stats.h"

#include <cstdint>
#include <map>

#include "platform/platform_time.h"

namespace qm {

std::vector<DayFigures> DailyFigures(RatingLog& log, int days) {
  std::vector<DayFigures> figures;
  if (days <= 0) return figures;
  const auto now = static_cast<std::int64_t>(log.Clock().Now());
  std::map<std::string, std::size_t> index;
  for (int i = days - 1; i >= 0; --i) {
    figures.push_back({FormatPlatformTime(now - static_cast<std::int64_t>(i) * 86400).substr(0, 10)});
    index[figures.back().day] = figures.size() - 1;
  }
  const std::string first = figures.front().day;
  for (const RatingLog::DayCount& c : log.GivenByDay(first)) {
    const auto it = index.find(c.day);
    if (it == index.end()) continue;
    DayFigures& f = figures[it->second];
    if (c.what == "automatic") f.automatic += c.count;
    else if (c.what == "early") f.early += c.count;
    // The selection command answers buyer-rated orders.
    else if (c.what == "answer" || c.what == "selection") f.answered += c.count;
  }
  for (const RatingLog::DayCount& c : log.ReceivedByDay(first)) {
    const auto it = index.find(c.day);
    if (it == index.end()) continue;
    DayFigures& f = figures[it->second];
    if (c.what == "good") f.good += c.count;
    else if (c.what == "neutral") f.neutral += c.count;
    else if (c.what == "bad") f.bad += c.count;
  }
  for (const RatingLog::DayCount& c : log.RequestsByDay(first)) {
    if (const auto it = index.find(c.day); it != index.end()) figures[it->second].requests += c.count;
  }
  return figures;
}

std::string DailyFiguresCsv(const std::vector<DayFigures>& figures) {
  std::string out = "\xEF\xBB\xBF" "日期,自动,提前,回评,好评,中评,差评,请求\r\n";
  for (const DayFigures& f : figures) {
    out += f.day;
    for (int n : {f.automatic, f.early, f.answered, f.good, f.neutral, f.bad, f.requests}) out += "," + std::to_string(n);
    out += "\r\n";
  }
  return out;
}

}  // namespace qm
