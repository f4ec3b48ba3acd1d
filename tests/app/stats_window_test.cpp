// 统计 over a rating log the test writes: the counts per day in the three
// charts for 30 and 90 days, the numbers of a bar on hover, and the CSV.
#include <QBarSet>
#include <QBarCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QLabel>
#include <QStackedBarSeries>
#include <QtTest>

#include "app/stats_window.h"
#include "app_test_support.h"
#include "platform/platform_time.h"
#include "rating/rating_log.h"

using namespace qm;
using namespace qm::test;

namespace {

QBarSet* SetOf(QChartView* view, const QString& name) {
  for (QAbstractSeries* series : view->chart()->series())
    for (QBarSet* set : static_cast<QStackedBarSeries*>(series)->barSets())
      if (set->label() == name) return set;
  return nullptr;
}

QStringList Days(QChartView* view) {
  for (QAbstractAxis* axis : view->chart()->axes(Qt::Horizontal))
    if (auto* days = qobject_cast<QBarCategoryAxis*>(axis)) return days->categories();
  return {};
}

}  // namespace

class StatsWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void showsTheCountsPerDayOfTheLogAndExportsThem() {
    ProgramDir dir("[卖家甲]\r\nappkey=k\r\nAppSecret=s\r\n");
    const std::int64_t today = *ParsePlatformTime("2026-12-10 09:00:00");
    double now = static_cast<double>(today);
    dir.session.link = std::make_shared<PlatformLink>(std::make_shared<PlatformClock>([&now] { return now; }, nullptr));
    const PlatformClock& clock = dir.session.link->Clock();
    RatingLog log(clock);
    QVERIFY(log.Open(dir.File("卖家甲的评价记录.db")));
    auto rate = [&](std::int64_t at, const char* tid, RatingStart start, const char* outcome) {
      now = static_cast<double>(at);
      log.Answered(log.Sent(tid, "b", "good", "c", start), outcome);
    };
    rate(today, "1", RatingStart::Automatic, kLogRated);
    rate(today + 60, "2", RatingStart::Automatic, kLogRated);
    rate(today + 120, "3", RatingStart::Automatic, kLogRefused);  // not given
    rate(today - 86400, "4", RatingStart::Early, kLogRated);
    rate(today - 86400, "5", RatingStart::Answer, kLogRated);
    rate(today - 86400, "6", RatingStart::Selection, kLogRated);   // answers too
    rate(today - 40 * 86400, "7", RatingStart::Automatic, kLogRated);
    now = static_cast<double>(today);
    log.RememberVerdict("1", BuyerVerdict{"good", ""});
    log.RememberVerdict("2", BuyerVerdict{"good", "好"});
    now = static_cast<double>(today - 86400);
    log.KeepAlert({"4", "b", "bad", "差", FormatPlatformTime(today - 86400)}, BuyerVerdict{"bad", "差"});
    now = static_cast<double>(today - 50 * 86400);
    log.RememberVerdict("7", BuyerVerdict{"neutral", ""});
    now = static_cast<double>(today + 3600);
    // The runs' requests: added to what a day holds, one day past the 90.
    QVERIFY(log.AddRequests({{"2026-12-09", 30}, {"2026-12-10", 7}, {"2026-09-11", 5}}));
    QVERIFY(log.AddRequests({{"2026-12-09", 10}}));

    StatsWindow w(&log);
    w.show();
    QCOMPARE(Days(w.GivenChart()).size(), 30);
    QCOMPARE(Days(w.GivenChart()).last(), QString("12-10"));
    QCOMPARE(Days(w.ReceivedChart()).first(), QString("11-11"));
    QCOMPARE(SetOf(w.GivenChart(), "自动")->at(29), 2.0);
    QCOMPARE(SetOf(w.GivenChart(), "提前")->at(28), 1.0);
    QCOMPARE(SetOf(w.GivenChart(), "回评")->at(28), 2.0);
    QCOMPARE(SetOf(w.ReceivedChart(), "好评")->at(29), 2.0);
    QCOMPARE(SetOf(w.ReceivedChart(), "差评")->at(28), 1.0);
    QCOMPARE(SetOf(w.RequestChart(), "请求")->at(28), 40.0);
    QCOMPARE(SetOf(w.RequestChart(), "请求")->at(29), 7.0);
    QCOMPARE(Days(w.RequestChart()).last(), QString("12-10"));
    QCOMPARE(w.HoverLine()->text(), QString("共给出 5（自动 2，提前 1，回评 2）；收到好评 2，中评 0，差评 1；请求 47 次"));
    QCOMPARE(w.HoverLine()->textFormat(), Qt::PlainText);
    emit SetOf(w.ReceivedChart(), "差评")->hovered(true, 28);
    QCOMPARE(w.HoverLine()->text(), QString("12-09 差评 1"));
    emit SetOf(w.RequestChart(), "请求")->hovered(true, 28);
    QCOMPARE(w.HoverLine()->text(), QString("12-09 请求 40"));
    emit SetOf(w.ReceivedChart(), "差评")->hovered(false, 28);
    QVERIFY(w.HoverLine()->text().startsWith("共给出 5"));

    // 90 days reach the older rating and verdict.
    w.RangeBox()->setCurrentIndex(w.RangeBox()->findData(90));
    QCOMPARE(Days(w.GivenChart()).size(), 90);
    QCOMPARE(SetOf(w.GivenChart(), "自动")->at(89 - 40), 1.0);
    QCOMPARE(SetOf(w.ReceivedChart(), "中评")->at(89 - 50), 1.0);
    QCOMPARE(w.Figures().size(), size_t(90));
    QVERIFY(w.HoverLine()->text().endsWith("请求 47 次"));

    // The CSV: a line a day; never into the program's own directory.
    TempDir out;
    QVERIFY(w.ExportTo(out.File("统计.csv")));
    const std::string csv = ReadFileBytes(out.File("统计.csv"));
    QVERIFY(csv.rfind("\xEF\xBB\xBF" "日期,自动,提前,回评,好评,中评,差评,请求\r\n", 0) == 0);
    QVERIFY(csv.find("\r\n2026-12-09,0,1,2,0,0,1,40\r\n2026-12-10,2,0,0,2,0,0,7\r\n") != std::string::npos);
    QCOMPARE(std::count(csv.begin(), csv.end(), '\n'), 91L);
    {
      BoxAnswerer boxes;
      QVERIFY(!w.ExportTo(dir.File("统计.csv")));
      QCOMPARE(boxes.boxes.size(), size_t(1));
    }
    dir.session.link.reset();  // before `now` goes
  }
};

QTEST_MAIN(StatsWindowTest)
#include "stats_window_test.moc"
