#pragma once
// "统计": the shop's ratings per day over the last 30 or 90 days, from the
// rating log alone (opening it asks the platform nothing): the ratings the
// program gave (自动, 提前, 回评), the buyers' ratings the refreshes and
// checks read (好评, 中评, 差评) and the requests the runs made to the
// platform, as three charts with each bar's numbers on hover, and 导出CSV of
// the figures. Opened from the rating log window.
#include <QDialog>
#include <string>
#include <vector>

#include "rating/rating_stats.h"

class QBarSet;
class QComboBox;
class QLabel;
class QChartView;

namespace qm {

class StatsWindow : public QDialog {
  Q_OBJECT
 public:
  explicit StatsWindow(RatingLog* log, QWidget* owner = nullptr);

  // 30 or 90 days up to today.
  void ShowDays(int days);
  const std::vector<DayFigures>& Figures() const { return figures_; }
  QComboBox* RangeBox() const { return range_; }
  QChartView* GivenChart() const { return given_; }
  QChartView* ReceivedChart() const { return received_; }
  QChartView* RequestChart() const { return requests_; }
  // The numbers of the bar under the pointer ("12-09 差评 2"), or the range's totals.
  QLabel* HoverLine() const { return hover_; }
  bool ExportTo(const std::string& path);

 private:
  void Fill(QChartView* view, const char* title, const std::vector<std::pair<const char*, int DayFigures::*>>& sets);
  void ShowTotals();
  void AskAndExport();

  RatingLog* log_;
  std::vector<DayFigures> figures_;
  QComboBox* range_ = nullptr;
  QChartView* given_ = nullptr;
  QChartView* received_ = nullptr;
  QChartView* requests_ = nullptr;
  QLabel* hover_ = nullptr;
};

}  // namespace qm
