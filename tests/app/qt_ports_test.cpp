// The Qt adapters of the ports: lists over the list views, timers, the event
// pump's waits and posts from worker threads, the busy picture.
#include <QApplication>
#include <QTreeWidget>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <thread>

#include "app/builder.h"
#include "app/icons.h"
#include "app/qt_ports.h"

using namespace qm;
using namespace std::chrono_literals;

class QtPortsTest : public QObject {
  Q_OBJECT
 private slots:
  void listRowsAndCells() {
    QWidget w;
    BuildWindow(&w, MainWindowLayout());
    QtOrderList list(Control<QTreeWidget>(&w, "超级列表框1"));
    QCOMPARE(list.ColumnCount(), 4);
    QCOMPARE(list.AppendRow({"1001", "买家甲", "2026-01-02 03:04:05"}), 0);
    list.AppendRows({{"1002", "买家乙", "t", "x", "dropped"}, {"1003"}});
    QCOMPARE(list.RowCount(), 3);
    QCOMPARE(list.Cell(0, 1), std::string("买家甲"));
    QCOMPARE(list.Cell(0, 3), std::string());
    QCOMPARE(list.Cell(1, 3), std::string("x"));
    QCOMPARE(list.Cell(2, 1), std::string());
    QCOMPARE(list.Cell(9, 0), std::string());
    QCOMPARE(list.Cell(0, 4), std::string());
    list.SetCell(2, 3, "01天02小时");
    QCOMPARE(list.Cell(2, 3), std::string("01天02小时"));
    list.SetCell(7, 0, "ignored");
    list.DeleteRow(5);
    QCOMPARE(list.RowCount(), 3);
    list.DeleteRow(0);
    QCOMPARE(list.Cell(0, 0), std::string("1002"));
    list.DeleteAllRows();
    QCOMPARE(list.RowCount(), 0);
  }

  void deleteManyRowsAtOnce() {
    QWidget w;
    BuildWindow(&w, MainWindowLayout());
    QtOrderList list(Control<QTreeWidget>(&w, "超级列表框2"));
    for (int i = 0; i < 6; ++i) list.AppendRow({std::to_string(i)});
    list.DeleteRows({4, 1, 4, 99, -1, 0});
    QCOMPARE(list.RowCount(), 3);
    QCOMPARE(list.Cell(0, 0), std::string("2"));
    QCOMPARE(list.Cell(1, 0), std::string("3"));
    QCOMPARE(list.Cell(2, 0), std::string("5"));
  }

  void currentRowFollowsTheSelection() {
    QWidget w;
    BuildWindow(&w, MainWindowLayout());
    auto* tree = Control<QTreeWidget>(&w, "超级列表框2");
    QtOrderList list(tree);
    for (int i = 0; i < 5; ++i) list.AppendRow({std::to_string(i), "b"});
    QCOMPARE(list.CurrentRow(), -1);
    tree->setCurrentItem(tree->topLevelItem(3));
    QCOMPARE(list.CurrentRow(), 3);
    tree->topLevelItem(1)->setSelected(true);
    QCOMPARE(list.SelectedRows(), std::vector<int>({1, 3}));
    QCOMPARE(list.CurrentRow(), 3);
    // A click on empty space clears the selection: no current row, whatever has the focus.
    tree->clearSelection();
    QCOMPARE(list.CurrentRow(), -1);
    QVERIFY(list.SelectedRows().empty());
  }

  void timerIntervalZeroStops() {
    QTimer t;
    QtTimer timer(&t);
    QCOMPARE(timer.Interval(), 0);
    timer.SetInterval(5000);
    QVERIFY(t.isActive());
    QCOMPARE(timer.Interval(), 5000);
    timer.SetInterval(0);
    QVERIFY(!t.isActive());
    QCOMPARE(timer.Interval(), 0);
    timer.SetInterval(-3);
    QCOMPARE(timer.Interval(), 0);
  }

  void pumpWaitsWakeForPostsFromWorkers() {
    QtEventPump pump;
    QVERIFY(pump.OnOwnerThread());
    std::atomic<bool> ranOnUi{false};
    std::atomic<bool> workerIsOwner{true};
    std::thread worker([&] {
      std::this_thread::sleep_for(50ms);
      workerIsOwner = pump.OnOwnerThread();
      pump.Post([&] { ranOnUi = QThread::currentThread() == QCoreApplication::instance()->thread(); });
    });
    const auto start = std::chrono::steady_clock::now();
    bool woke = false;
    while (!ranOnUi && std::chrono::steady_clock::now() - start < 5s) woke = pump.WaitAndRun(2000ms) || woke;
    worker.join();
    QVERIFY(!workerIsOwner);
    QVERIFY(ranOnUi);
    QVERIFY(woke);
    QVERIFY(std::chrono::steady_clock::now() - start < 1500ms);  // woken, not timed out
  }

  void pumpWaitReportsAnIdleLimit() {
    QtEventPump pump;
    pump.RunPending();
    QCoreApplication::processEvents();
    const auto start = std::chrono::steady_clock::now();
    const bool woke = pump.WaitAndRun(60ms);
    const auto took = std::chrono::steady_clock::now() - start;
    QVERIFY(!woke);
    QVERIFY(took >= 50ms);
  }

  void busyPictureTurnsOnlyWhileShown() {
    QWidget w;
    BuildWindow(&w, MainWindowLayout());
    auto* busy = Control<BusyPicture>(&w, "图片框2");
    QVERIFY(busy != nullptr);
    w.show();
    QVERIFY(!busy->Running());
    busy->show();
    QVERIFY(busy->Running());
    const int first = busy->CurrentFrame();
    QTRY_VERIFY(busy->CurrentFrame() != first);
    busy->hide();
    QVERIFY(!busy->Running());
  }
};

QTEST_MAIN(QtPortsTest)
#include "qt_ports_test.moc"
