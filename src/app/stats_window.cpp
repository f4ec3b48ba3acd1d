#include "app/stats_window.h"

#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedBarSeries>
#include <QToolTip>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>

#include "app/builder.h"
#include "app/qt_ports.h"

namespace qm {
namespace {

constexpr const char* kTitle = "统计";

// "MM-DD" of a "YYYY-MM-DD" day.
QString ShortDay(const std::string& day) { return Q(day.size() >= 10 ? day.substr(5, 5) : day); }

}  // namespace

StatsWindow::StatsWindow(RatingLog* log, QWidget* owner) : QDialog(owner), log_(log) {
  setObjectName("StatsWindow");
  setWindowTitle(kTitle);
  resize(960, 800);
  range_ = new QComboBox(this);
  range_->setObjectName("统计范围框");
  range_->addItem("最近 30 天", 30);
  range_->addItem("最近 90 天", 90);
  auto* exportButton = new QPushButton("导出CSV", this);
  exportButton->setObjectName("导出按钮");
  hover_ = new QLabel(this);
  hover_->setObjectName("统计数字");
  hover_->setTextFormat(Qt::PlainText);
  given_ = new QChartView(this);
  given_->setObjectName("给出的评价图");
  received_ = new QChartView(this);
  received_->setObjectName("收到的评价图");
  requests_ = new QChartView(this);
  requests_->setObjectName("请求次数图");
  for (QChartView* view : {given_, received_, requests_}) view->setRenderHint(QPainter::Antialiasing);

  auto* bar = new QHBoxLayout;
  bar->addWidget(range_);
  bar->addWidget(hover_, 1);
  bar->addWidget(exportButton);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(bar);
  layout->addWidget(given_, 1);
  layout->addWidget(received_, 1);
  layout->addWidget(requests_, 1);

  connect(range_, &QComboBox::currentIndexChanged, this, [this] { ShowDays(range_->currentData().toInt()); });
  connect(exportButton, &QPushButton::clicked, this, &StatsWindow::AskAndExport);
  ShowDays(30);
}

void StatsWindow::ShowDays(int days) {
  if (range_->currentData().toInt() != days) {
    range_->setCurrentIndex(range_->findData(days));  // comes back here
    return;
  }
  figures_ = log_ != nullptr ? DailyFigures(*log_, days) : std::vector<DayFigures>{};
  Fill(given_, "程序给出的评价",
       {{"自动", &DayFigures::automatic}, {"提前", &DayFigures::early}, {"回评", &DayFigures::answered}});
  Fill(received_, "买家给的评价", {{"好评", &DayFigures::good}, {"中评", &DayFigures::neutral}, {"差评", &DayFigures::bad}});
  Fill(requests_, "向平台发出的请求", {{"请求", &DayFigures::requests}});
  ShowTotals();
}

void StatsWindow::Fill(QChartView* view, const char* title,
                       const std::vector<std::pair<const char*, int DayFigures::*>>& sets) {
  auto* series = new QStackedBarSeries;
  int highest = 0;
  std::vector<int> stacked(figures_.size(), 0);
  for (const auto& [name, field] : sets) {
    auto* set = new QBarSet(QString::fromUtf8(name));
    set->setObjectName(QString::fromUtf8(name));
    for (std::size_t i = 0; i < figures_.size(); ++i) {
      *set << figures_[i].*field;
      stacked[i] += figures_[i].*field;
    }
    connect(set, &QBarSet::hovered, this, [this, label = QString::fromUtf8(name), set](bool inside, int index) {
      if (!inside || index < 0 || index >= static_cast<int>(figures_.size())) {
        ShowTotals();
        QToolTip::hideText();
        return;
      }
      const QString text = QString("%1 %2 %3").arg(ShortDay(figures_[index].day), label).arg(set->at(index));
      hover_->setText(text);
      QToolTip::showText(QCursor::pos(), text);
    });
    series->append(set);
  }
  for (int n : stacked) highest = std::max(highest, n);
  auto* chart = new QChart;
  chart->setTitle(QString::fromUtf8(title));
  chart->addSeries(series);
  auto* days = new QBarCategoryAxis;
  for (const DayFigures& f : figures_) days->append(ShortDay(f.day));
  days->setLabelsAngle(-90);
  chart->addAxis(days, Qt::AlignBottom);
  series->attachAxis(days);
  auto* counts = new QValueAxis;
  // Whole numbers, about five steps, the top a step.
  const int step = std::max(1, (highest + 4) / 5);
  counts->setRange(0, std::max(1, (highest + step - 1) / step) * step);
  counts->setLabelFormat("%d");
  counts->setTickType(QValueAxis::TicksDynamic);
  counts->setTickInterval(step);
  chart->addAxis(counts, Qt::AlignLeft);
  series->attachAxis(counts);
  chart->legend()->setAlignment(Qt::AlignRight);
  QChart* old = view->chart();
  view->setChart(chart);
  delete old;
}

void StatsWindow::ShowTotals() {
  DayFigures total;
  for (const DayFigures& f : figures_) {
    total.automatic += f.automatic;
    total.early += f.early;
    total.answered += f.answered;
    total.good += f.good;
    total.neutral += f.neutral;
    total.bad += f.bad;
    total.requests += f.requests;
  }
  hover_->setText(QString("共给出 %1（自动 %2，提前 %3，回评 %4）；收到好评 %5，中评 %6，差评 %7；请求 %8 次")
                      .arg(total.automatic + total.early + total.answered)
                      .arg(total.automatic)
                      .arg(total.early)
                      .arg(total.answered)
                      .arg(total.good)
                      .arg(total.neutral)
                      .arg(total.bad)
                      .arg(total.requests));
}

bool StatsWindow::ExportTo(const std::string& path) {
  std::string error;
  if (WriteExportFile(log_ != nullptr ? log_->Directory() : std::string(), path, DailyFiguresCsv(figures_), &error)) return true;
  QtPrompts().Warn("导出CSV", error);
  return false;
}

void StatsWindow::AskAndExport() {
  const QString path = QFileDialog::getSaveFileName(this, "导出CSV", "统计.csv", "CSV (*.csv)");
  if (path.isEmpty() || !ExportTo(S(path))) return;
  QtPrompts().Information("导出CSV", "已导出 " + std::to_string(figures_.size()) + " 天的统计到：\n" +
                                         S(QDir::toNativeSeparators(path)));
}

}  // namespace qm
