// Buyers' neutral and bad ratings on the desktop, against the sandbox
// marketplace: a burst of them reaches the alert list whole and is announced
// once; the unseen count shows in the title bar, the window title and the
// tray menu; an alert leads to its order in the buyer-rated list; what the
// seller has seen stays seen after a restart, and what he has not waits.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTreeView>
#include <QtTest>
#include <nlohmann/json.hpp>

#include "app/alert_list_window.h"
#include "app/builder.h"
#include "app/main_window.h"
#include "app_test_support.h"
#include "rating/seller_run.h"
#include "support/sandbox_process.h"

using namespace qm;
using namespace qm::test;

namespace {

// Every alert announcement the status line showed, each once in a row.
struct Announcements {
  QStringList seen;
  QTimer poll;
  explicit Announcements(MainWindow& w) {
    QObject::connect(&poll, &QTimer::timeout, &w, [this, &w] {
      const QString status = w.StatusText();
      if (status.startsWith("差评提醒：") && (seen.isEmpty() || seen.back() != status)) seen << status;
    });
    poll.start(5);
  }
};

std::vector<std::string> AddTrades(const Sandbox& market, const nlohmann::json& trades) {
  std::vector<std::string> tids;
  const auto reply = nlohmann::json::parse(market.AdminPost("trades", nlohmann::json{{"trades", trades}}.dump()),
                                           nullptr, false);
  if (reply.is_discarded() || !reply.contains("tids")) return tids;
  for (const auto& tid : reply["tids"]) tids.push_back(tid.is_string() ? tid.get<std::string>() : tid.dump());
  return tids;
}

// The start-up through the account dialog up to the end of the first load's
// refresh and pass.
bool StartAndSettle(MainWindow& w, const Sandbox& market) {
  ChooseAccountWhenAsked(QString::fromStdString(market.Seller().nick));
  if (!RunStartupToEnd(w)) return false;
  return QTest::qWaitFor([&] { return w.Run() && w.Run()->Schedule().Phase() == RunPhase::Idle &&
                                      !FindControl(&w, "图片框2")->isVisibleTo(&w); },
                         30000);
}

QString Cell(const QTableView* table, int row, int column) {
  return table->model()->index(row, column).data().toString();
}

}  // namespace

class AlertListTest : public QObject {
  Q_OBJECT
 private slots:
  void aBurstOfAlertsWaitsInTheListUntilSeenAndStaysSeenAfterARestart() {
    Sandbox market;
    QVERIFY(market.Ok());
    ProgramDir dir;
    QVERIFY(market.WriteConfig(dir.File("Config.ini")));
    dir.session.endpoints = Endpoints::AtBase(market.BaseUrl());
    const std::string hostile = "<b>太差</b>\n<img src=x onerror=alert(1)>\t第二行";
    const std::vector<std::string> rated = AddTrades(
        market, nlohmann::json::array({
                    {{"buyer_nick", "坏买家甲"}, {"ended_hours_ago", 30}, {"buyer_rate", "bad"}, {"buyer_comment", hostile}},
                    {{"buyer_nick", "<i>乙</i>"}, {"ended_hours_ago", 31}, {"buyer_rate", "neutral"}, {"buyer_comment", ""}},
                    {{"buyer_nick", "丙"}, {"ended_hours_ago", 32}, {"buyer_rate", "bad"}, {"buyer_comment", "发货太慢"}},
                    {{"buyer_nick", "好买家"}, {"ended_hours_ago", 33}, {"buyer_rate", "good"}, {"buyer_comment", "好"}},
                    {{"buyer_nick", "丁"}, {"ended_hours_ago", 34}},
                }));
    QCOMPARE(rated.size(), size_t(5));
    const std::string later = rated[4];  // rated by its buyer while the program runs
    EndRecorder ends;
    BoxAnswerer boxes;

    {
      MainWindow w(dir.session, ends.End());
      Announcements said(w);
      QVERIFY(StartAndSettle(w, market));
      // Three alerts of one refresh: all in the list, one announcement for them.
      QTRY_COMPARE_WITH_TIMEOUT(w.Run()->Alerts().UnseenCount(), 3, 15000);
      QTRY_COMPARE_WITH_TIMEOUT(said.seen.size(), qsizetype(1), kAlertBurstQuietMs + 3000);
      QCOMPARE(said.seen[0], QString("差评提醒：3 位买家给了中评或差评"));
      QVERIFY(w.AlertListButton()->isVisibleTo(&w));
      QCOMPARE(w.AlertListButton()->text(), QString("差评提醒（3）"));
      QVERIFY2(w.windowTitle().contains("3 条差评提醒未读"), qPrintable(w.windowTitle()));
      QCOMPARE(FindMenuItem(w.Menu("托盘右键"), "差评提醒（3）"), w.AlertListItem());

      // A later refresh that finds them again alerts nothing new; a new bad
      // rating is announced alone, in the single alert's words.
      QVERIFY(!market.AdminPost("buyer-rate", nlohmann::json{{"tid", later}, {"result", "neutral"},
                                                              {"content", "一般"}}.dump()).empty());
      w.Run()->refresh_cycle();
      QTRY_COMPARE_WITH_TIMEOUT(w.Run()->Alerts().UnseenCount(), 4, 15000);
      QTRY_COMPARE_WITH_TIMEOUT(said.seen.size(), qsizetype(2), kAlertBurstQuietMs + 3000);
      QCOMPARE(said.seen[1], QString::fromStdString("差评提醒：买家‘丁’给了订单 " + later + " 中评：一般"));
      QCOMPARE(w.AlertListItem()->text(), QString("差评提醒（4）"));

      // The list from the tray menu: every alert, newest first, the buyer's
      // words as they were written.
      w.AlertListItem()->trigger();
      AlertListWindow* list = w.AlertWindow();
      QVERIFY(list != nullptr && list->isVisible());
      QVERIFY(QTest::qWaitForWindowExposed(list));
      QTableView* table = list->Table();
      QCOMPARE(table->model()->rowCount(), 4);
      QCOMPARE(Cell(table, 0, 0), QString::fromStdString(later));
      QStringList orders, buyers, verdicts;
      for (int row = 0; row < 4; ++row) {
        orders << Cell(table, row, 0);
        buyers << Cell(table, row, 1);
        verdicts << Cell(table, row, 2);
      }
      QCOMPARE(buyers, QStringList({"丁", "丙", "<i>乙</i>", "坏买家甲"}));
      QCOMPARE(verdicts, QStringList({"中评", "差评", "中评", "差评"}));
      QCOMPARE(Cell(table, 2, 4), QString("无"));
      QCOMPARE(Cell(table, 3, 4), QString("<b>太差</b> <img src=x onerror=alert(1)> 第二行"));

      // Choosing an alert selects its order in the buyer-rated list; the
      // comment box holds the comment whole.
      QTreeView* buyerRated = w.BuyerRatedList().Widget();
      auto selectedOrder = [&] {
        const QModelIndexList rows = buyerRated->selectionModel()->selectedRows();
        return rows.size() == 1 ? rows[0].data().toString() : QString("(%1 rows)").arg(rows.size());
      };
      for (int row : {3, 1}) {
        const QRect cell = table->visualRect(table->model()->index(row, 1));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(selectedOrder(), orders[row]);
        QCOMPARE(buyerRated->currentIndex().row(), w.Book().BuyerRated().Find(orders[row].toStdString()));
      }
      QCOMPARE(list->CommentBox()->toPlainText(), QString("发货太慢"));
      table->selectRow(3);
      QCOMPARE(list->CommentBox()->toPlainText(), QString::fromStdString(hostile));

      // Closing the list marks what it showed as seen.
      list->AllReadButton()->click();
      QTRY_VERIFY(w.AlertWindow() == nullptr);
      QCOMPARE(w.Run()->Alerts().UnseenCount(), 0);
      QVERIFY(!w.AlertListButton()->isVisibleTo(&w));
      QVERIFY(!w.windowTitle().contains("未读"));
      QCOMPARE(w.AlertListItem()->text(), QString("差评提醒"));
    }

    // A bad rating that came but was not seen before the program ended waits
    // through the restart.
    const std::vector<std::string> more = AddTrades(
        market, nlohmann::json::array({{{"buyer_nick", "戊"}, {"ended_hours_ago", 40}, {"buyer_rate", "bad"},
                                        {"buyer_comment", "差"}}}));
    QCOMPARE(more.size(), size_t(1));
    {
      MainWindow w(dir.session, ends.End());
      Announcements said(w);
      QVERIFY(StartAndSettle(w, market));
      QTRY_COMPARE_WITH_TIMEOUT(said.seen.size(), qsizetype(1), kAlertBurstQuietMs + 3000);
      QCOMPARE(said.seen[0], QString::fromStdString("差评提醒：买家‘戊’给了订单 " + more[0] + " 差评：差"));
      QCOMPARE(w.Run()->Alerts().UnseenCount(), 1);
    }
    {
      MainWindow w(dir.session, ends.End());
      Announcements said(w);
      QVERIFY(StartAndSettle(w, market));
      // The seen ones stay seen and nothing is announced again; the unseen one waits.
      QCOMPARE(w.Run()->Alerts().UnseenCount(), 1);
      QCOMPARE(w.AlertListButton()->text(), QString("差评提醒（1）"));
      QVERIFY(w.AlertListButton()->isVisibleTo(&w));
      QTest::qWait(kAlertBurstQuietMs + 500);
      QVERIFY2(said.seen.isEmpty(), qPrintable(said.seen.join('|')));
      w.AlertListButton()->click();
      QCOMPARE(w.AlertWindow()->Table()->model()->rowCount(), 1);
      QCOMPARE(Cell(w.AlertWindow()->Table(), 0, 0), QString::fromStdString(more[0]));
      w.AlertWindow()->close();
      QTRY_COMPARE(w.Run()->Alerts().UnseenCount(), 0);
    }
    QVERIFY(ends.codes.empty());
    QVERIFY2(boxes.boxes.empty(), boxes.boxes.empty() ? "" : qPrintable(boxes.boxes[0].text));
  }
};

QTEST_MAIN(AlertListTest)
#include "alert_list_test.moc"
