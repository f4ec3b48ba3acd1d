// The Qt adapters of the ports: lists over the list views, timers, the event
// pump's waits and posts from worker threads, the busy picture.
#include <QApplication>
#include <QHeaderView>
#include <QSignalSpy>
#include <QTreeView>
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
  void listsShowTheBookAndFollowItsChanges() {
    QWidget w;
    BuildWindow(&w, MainWindowLayout());
    auto* view = Control<QTreeView>(&w, "超级列表框1");
    OrderBook book;
    QtOrderList list(view, book.Unrated());
    QAbstractItemModel* model = view->model();
    // The layout's titles and widths survive the change of model.
    QCOMPARE(model->columnCount(), 4);
    QCOMPARE(model->headerData(2, Qt::Horizontal).toString(), QString("确认时间"));
    QCOMPARE(view->header()->sectionSize(1), 150);
    QCOMPARE(view->header()->sectionSize(2), 0);
    auto cell = [&](int row, int column) { return model->index(row, column).data().toString(); };

    book.Unrated().Fill({{"1001", "<b>买家甲</b>", "2026-01-02 03:04:05"}, {"1002", "买家乙", ""}, {"1003", "c", ""}});
    QCOMPARE(model->rowCount(), 3);
    QCOMPARE(cell(0, 1), QString("<b>买家甲</b>"));
    QCOMPARE(cell(0, 2), QString("2026-01-02 03:04:05"));
    QCOMPARE(cell(0, 3), QString());
    QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
    book.Unrated().SetTimeLeft(2, "01天02小时");
    QCOMPARE(changed.count(), 1);
    QCOMPARE(cell(2, 3), QString("01天02小时"));
    book.Unrated().Append({{"1004", "d", ""}});
    QCOMPARE(model->rowCount(), 4);

    // The user's choice comes back as order numbers and follows its order.
    view->setCurrentIndex(model->index(2, 0));
    QCOMPARE(list.CurrentRow(), 2);
    QCOMPARE(book.Unrated().CurrentOrder(), std::string("1003"));
    book.Unrated().Remove("1001");
    QCOMPARE(model->rowCount(), 3);
    QCOMPARE(book.Unrated().CurrentOrder(), std::string("1003"));
    QCOMPARE(cell(0, 0), QString("1002"));
    book.Unrated().Clear();
    QCOMPARE(model->rowCount(), 0);
    QCOMPARE(list.CurrentRow(), -1);
  }

  void currentRowFollowsTheSelection() {
    QWidget w;
    BuildWindow(&w, MainWindowLayout());
    auto* view = Control<QTreeView>(&w, "超级列表框2");
    OrderBook book;
    QtOrderList list(view, book.BuyerRated());
    std::vector<Order> orders;
    for (int i = 0; i < 5; ++i) orders.push_back({std::to_string(i), "b", ""});
    book.BuyerRated().Fill(orders);
    QCOMPARE(list.CurrentRow(), -1);
    view->setCurrentIndex(view->model()->index(3, 0));
    QCOMPARE(list.CurrentRow(), 3);
    view->selectionModel()->select(view->model()->index(1, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QCOMPARE(list.SelectedRows(), std::vector<int>({1, 3}));
    QCOMPARE(book.BuyerRated().SelectedOrders(), std::vector<std::string>({"1", "3"}));
    QCOMPARE(list.CurrentRow(), 3);
    // A click on empty space clears the selection: no current row, whatever has the focus.
    view->clearSelection();
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
