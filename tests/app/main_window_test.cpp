// The main window: tray events, hiding, the exit question, the notice box and
// the start-up sequence up to the seller check.
#include <QAbstractItemModelTester>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QComboBox>
#include <QtTest>
#include <QWebEngineView>

#include <cmath>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "app/account_dialog.h"
#include "app/app.h"
#include "app/builder.h"
#include "app/main_window.h"
#include "app_test_support.h"
#include "platform/platform_time.h"
#include "rating/seller_run.h"
#include "rating/startup.h"
#include "support/sandbox_process.h"
#include "util/ports.h"
#include "util/text_codec.h"

using namespace qm;
using namespace qm::test;

class MainWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void startsWithTimersStoppedAndPartsHidden() {
    ProgramDir dir;
    MainWindow w(dir.session, UnexpectedEnd());
    QCOMPARE(w.objectName(), QString("MainWindow"));
    QVERIFY(!FindTimer(&w, "时钟1")->isActive());
    QVERIFY(!FindTimer(&w, "时钟2")->isActive());
    QVERIFY(!FindControl(&w, "图片框2")->isVisibleTo(&w));
    QVERIFY(!FindControl(&w, "外形框3")->isVisibleTo(&w));
    // No run before the account is confirmed.
    QVERIFY(w.Run() == nullptr);
    // The view reaches the widgets.
    w.View().setStatus("已成功获取Session授权 V测试");
    QCOMPARE(Control<QLabel>(&w, "标签3")->text(), QString("已成功获取Session授权 V测试"));
  }

  // Without a window manager that resizes it, the grips do: dragging the
  // corner grows the window and both lists with it, never below the size it
  // starts at; a double-click on the title strip maximises it, another gives
  // back its size, and the long status text stays whole in its tooltip.
  void theWindowGrowsByItsEdgesAndMaximisesFromItsTitleStrip() {
    ProgramDir dir;
    MainWindow w(dir.session, UnexpectedEnd());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QSize least = w.size();
    QWidget* unrated = Control<QWidget>(&w, "超级列表框1");
    QWidget* buyerRated = Control<QWidget>(&w, "超级列表框2");
    const int left = unrated->width(), right = buyerRated->width(), tall = unrated->height();
    auto drag = [&](QPoint at, QPoint by) {
      QWidget* grip = w.childAt(at);
      QVERIFY(grip != nullptr && grip->objectName() == "窗口边缘");
      const QPoint from = grip->mapFromParent(at);
      QTest::mousePress(grip, Qt::LeftButton, {}, from);
      QMouseEvent move(QEvent::MouseMove, QPointF(from + by), QPointF(grip->mapToGlobal(from + by)), Qt::NoButton,
                       Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(grip, &move);
      QTest::mouseRelease(grip, Qt::LeftButton, {}, from + by);
    };
    drag(QPoint(w.width() - 2, w.height() - 2), QPoint(200, 100));
    QCOMPARE(w.size(), least + QSize(200, 100));
    QVERIFY(unrated->width() > left && buyerRated->width() > right);
    QCOMPARE(unrated->height(), tall + 100);
    drag(QPoint(w.width() / 2, w.height() - 2), QPoint(0, -500));  // the bottom edge, past the least size
    QCOMPARE(w.size(), least + QSize(200, 0));

    QWidget* title = Control<QLabel>(&w, "标签5");
    QTest::mouseDClick(title, Qt::LeftButton, {}, QPoint(10, 10));
    QTRY_VERIFY(w.isMaximized());
    QTest::mouseDClick(title, Qt::LeftButton, {}, QPoint(10, 10));
    QTRY_VERIFY(!w.isMaximized());
    // Below the title strip a double-click does nothing to the window.
    QTest::mouseDClick(Control<QWidget>(&w, "标签4"), Qt::LeftButton, {}, QPoint(300, 300));
    QVERIFY(!w.isMaximized());

    const std::string longText(200, 'x');
    w.View().setStatus("已对订单‘1’回评“好评”，平台已接受。" + longText);
    QVERIFY(Control<QLabel>(&w, "标签3")->toolTip().contains(QString::fromStdString(longText)));
  }

  void trayClickTogglesTheWindow() {
    ProgramDir dir;
    MainWindow w(dir.session, UnexpectedEnd());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    // A single click puts the window away (minimised where there is no
    // notification area) and brings it back; a double-click leaves it shown.
    emit w.Tray()->activated(QSystemTrayIcon::Trigger);
    QTRY_VERIFY(w.isMinimized());
    emit w.Tray()->activated(QSystemTrayIcon::Trigger);
    QTRY_VERIFY(!w.isMinimized());
    QVERIFY(w.isVisible());
    emit w.Tray()->activated(QSystemTrayIcon::Trigger);
    QTRY_VERIFY(w.isMinimized());
    emit w.Tray()->activated(QSystemTrayIcon::DoubleClick);
    QTRY_VERIFY(!w.isMinimized());
    emit w.Tray()->activated(QSystemTrayIcon::DoubleClick);
    QVERIFY(w.isVisible() && !w.isMinimized());
  }

  void trayRightButtonOpensTheTrayMenu() {
    ProgramDir dir;
    MainWindow w(dir.session, UnexpectedEnd());
    QMenu* menu = w.Menu("托盘右键");
    QVERIFY(!menu->isVisible());
    emit w.Tray()->activated(QSystemTrayIcon::Context);
    QTRY_VERIFY(menu->isVisible());
    menu->hide();
  }

  void trayMenuShowsAndHides() {
    ProgramDir dir;
    MainWindow w(dir.session, UnexpectedEnd());
    FindMenuItem(w.Menu("托盘右键"), "显示")->trigger();
    QVERIFY(w.isVisible());
    // Without a notification area (offscreen) "隐藏" minimises instead of losing the window.
    FindMenuItem(w.Menu("托盘右键"), "隐藏")->trigger();
    QVERIFY(w.isVisible());
    QTRY_VERIFY(w.isMinimized());
  }

  void hideButtonMinimisesWithoutATray() {
    ProgramDir dir;
    QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
    MainWindow w(dir.session, UnexpectedEnd());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(!w.TrayUsable());
    Control<QPushButton>(&w, "超级按钮2")->click();
    QTRY_VERIFY(w.isMinimized());
    QVERIFY(w.isVisible());
  }

  // Without a tray nothing else would end the program: "×" and a close
  // through the window system ask, and OK ends it.
  void closingWithoutATrayAsksAndQuits() {
    ProgramDir dir;
    dir.session.sellerNick = "卖家丙";
    EndRecorder ends;
    MainWindow w(dir.session, ends.End());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    {
      BoxAnswerer boxes(QMessageBox::Cancel);
      QVERIFY(!w.close());
      Control<QPushButton>(&w, "超级按钮1")->click();
      QCOMPARE(boxes.boxes.size(), size_t(2));
      QCOMPARE(boxes.boxes[1].text, QString("要退出‘卖家丙’吗?\n退出后不再自动评价，到期的订单要等下次启动后才会评价。"));
      QVERIFY(w.isVisible());
      QVERIFY(ends.codes.empty());
    }
    BoxAnswerer boxes(QMessageBox::Ok);
    Control<QPushButton>(&w, "超级按钮1")->click();
    QCOMPARE(ends.codes, std::vector<int>({0}));
  }

  void cancelInTheExitQuestionKeepsRunning() {
    ProgramDir dir;
    dir.session.sellerNick = "卖家甲";
    EndRecorder ends;
    BoxAnswerer boxes(QMessageBox::Cancel);
    MainWindow w(dir.session, ends.End());
    w.Tray()->show();
    w.hide();
    FindMenuItem(w.Menu("托盘右键"), "退出")->trigger();
    QCOMPARE(boxes.boxes.size(), size_t(1));
    QCOMPARE(boxes.boxes[0].title, QString("退出评价软件"));
    QCOMPARE(boxes.boxes[0].text, QString("要退出‘卖家甲’吗?\n退出后不再自动评价，到期的订单要等下次启动后才会评价。"));
    QCOMPARE(boxes.boxes[0].icon, QMessageBox::Information);
    QCOMPARE(boxes.boxes[0].buttons, QMessageBox::Ok | QMessageBox::Cancel);
    QVERIFY(ends.codes.empty());
    QVERIFY(w.isVisible());  // made visible before the question
    QVERIFY(w.Tray()->isVisible());
  }

  void okInTheExitQuestionEndsWithZero() {
    ProgramDir dir;
    dir.session.sellerNick = "卖家乙";
    EndRecorder ends;
    BoxAnswerer boxes(QMessageBox::Ok);
    MainWindow w(dir.session, ends.End());
    w.Tray()->show();
    FindMenuItem(w.Menu("托盘右键"), "退出")->trigger();
    QCOMPARE(ends.codes, std::vector<int>({0}));
    QVERIFY(!w.Tray()->isVisible());  // removed before the end
  }

  void noticeBoxDragsAndCloses() {
    ProgramDir dir;
    MainWindow w(dir.session, UnexpectedEnd());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QWidget* box = FindControl(&w, "外形框3");
    auto* title = Control<QLabel>(&w, "标签6");
    auto* body = Control<QLabel>(&w, "标签7");
    title->setText("中评");
    body->setText("买家给了中评");
    box->show();
    const QPoint start = box->pos();
    QTest::mousePress(body, Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
    QMouseEvent move(QEvent::MouseMove, QPointF(25, 60), body->mapToGlobal(QPointF(25, 60)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(body, &move);
    QTest::mouseRelease(body, Qt::LeftButton, Qt::NoModifier, QPoint(25, 60));
    QCOMPARE(box->pos(), start + QPoint(5, 40));

    QTest::mousePress(Control<QLabel>(&w, "标签8"), Qt::LeftButton);
    QVERIFY(!box->isVisible());
    QCOMPARE(title->text(), QString());
    QCOMPARE(body->text(), QString());
  }

  void emptyKeyOrSecretGoesBackToTheAccountBox_data() {
    QTest::addColumn<QString>("config");
    QTest::newRow("no key") << "[卖家]\r\nAppSecret=s\r\nSessionKey=x\r\n";
    QTest::newRow("no secret") << "[卖家]\r\nappkey=k\r\nSessionKey=x\r\n";
    QTest::newRow("blank key") << "[卖家]\r\nappkey=  \r\nAppSecret=s\r\n";
    QTest::newRow("no section") << "[别人]\r\nappkey=k\r\nAppSecret=s\r\n";
  }
  // After the message the setup form opens; closing it with "×" goes back to
  // the account box, whose "×" ends the program. The file is as it was.
  void emptyKeyOrSecretGoesBackToTheAccountBox() {
    QFETCH(QString, config);
    ProgramDir dir(config.toStdString());
    const std::string before = ReadFileBytes(dir.File("Config.ini"));
    EndRecorder ends;
    BoxAnswerer boxes;
    MainWindow w(dir.session, ends.End());
    ChooseAccountWhenAsked("卖家");
    int forms = 0;
    QTimer poll;
    connect(&poll, &QTimer::timeout, [&forms] {
      QWidget* modal = QApplication::activeModalWidget();
      if (modal == nullptr) return;
      if (modal->objectName() == "AccountSetupDialog") {
        ++forms;
        Control<QPushButton>(modal, "超级按钮2")->click();
      } else if (modal->objectName() == "AccountDialog" && forms == 1) {
        Control<QPushButton>(modal, "超级按钮1")->click();
      }
    });
    poll.start(10);
    QVERIFY(!RunStartupToEnd(w));
    QCOMPARE(forms, 1);
    QCOMPARE(ends.codes, std::vector<int>({0}));
    QCOMPARE(boxes.boxes.size(), size_t(1));
    QVERIFY(boxes.boxes[0].text.contains("AppKey"));
    QVERIFY(boxes.boxes[0].text.contains("卖家"));
    QCOMPARE(boxes.boxes[0].icon, QMessageBox::Warning);
    QVERIFY(!w.Tray()->isVisible());
    QCOMPARE(ReadFileBytes(dir.File("Config.ini")), before);
  }

  // No stored key, or one the platform does not confirm: the login window
  // opens on the authorize address, and its "×" ends the program.
  void withoutAConfirmedKeyTheLoginWindowOpens_data() {
    QTest::addColumn<QString>("config");
    QTest::newRow("no key") << "[卖家]\r\nappkey=k\r\nAppSecret=s\r\n";
    QTest::newRow("refused key") << "[卖家]\r\nappkey=k\r\nAppSecret=s\r\nSessionKey=bad\r\n";
  }
  void withoutAConfirmedKeyTheLoginWindowOpens() {
    QFETCH(QString, config);
    ProgramDir dir(config.toStdString());
    // The platform refuses the key of "k" (an application it does not know).
    Sandbox sandbox;
    QVERIFY(sandbox.Ok());
    dir.session.endpoints = Endpoints::AtBase(sandbox.BaseUrl());
    EndRecorder ends;
    BoxAnswerer boxes;
    MainWindow w(dir.session, ends.End());
    ChooseAccountWhenAsked("卖家");
    QString address;
    auto* poll = new QTimer();
    QObject::connect(poll, &QTimer::timeout, poll, [poll, &address] {
      for (QWidget* t : QApplication::topLevelWidgets()) {
        if (t->objectName() != "AuthWindow" || !t->isVisible()) continue;
        poll->stop();
        poll->deleteLater();
        address = Control<QWebEngineView>(t, "超文本浏览框1")->url().toString();
        Control<QPushButton>(t, "超级按钮1")->click();
        return;
      }
    });
    poll->start(20);
    QVERIFY(!RunStartupToEnd(w));
    QCOMPARE(address, QString::fromStdString(sandbox.BaseUrl()) + "/authorize?response_type=token&client_id=k");
    QCOMPARE(ends.codes, std::vector<int>({0}));
    QVERIFY(boxes.boxes.empty());
    QVERIFY(!w.Tray()->isVisible());
  }

  void standingCommentThePlatformCannotTakeEndsAfterAMessage() {
    ProgramDir dir("[卖家]\r\nappkey=k\r\nAppSecret=s\r\n");
    std::string comment;
    for (int i = 0; i < 501; ++i) comment += i % 2 ? "x" : "好";
    WriteFileBytes(dir.File("卖家的自动评价内容.txt"), Utf8ToGbk(comment));
    EndRecorder ends;
    BoxAnswerer boxes;
    MainWindow w(dir.session, ends.End());
    ChooseAccountWhenAsked("卖家");
    QVERIFY(!RunStartupToEnd(w));
    QCOMPARE(ends.codes, std::vector<int>({0}));
    QCOMPARE(boxes.boxes.size(), size_t(1));
    QCOMPARE(boxes.boxes[0].title, QString(kCommentTooLongTitle));
    QVERIFY2(boxes.boxes[0].text.contains("501 个字"), qPrintable(boxes.boxes[0].text));
  }

  // The platform does not answer the session check at first (its server's
  // error pages): the start says so and asks again, never opening the login
  // window, and goes on once it answers. The orders' model stays consistent
  // through the load and a removal.
  void startUpAgainstTheMarketplaceReachesTheFirstLoad() {
    Sandbox::Options options;
    options.trades = 20;
    Sandbox sandbox(options);
    QVERIFY(sandbox.Ok());
    ProgramDir dir;
    QVERIFY(sandbox.WriteConfig(dir.File("Config.ini")));
    dir.session.endpoints = Endpoints::AtBase(sandbox.BaseUrl());
    // The first load's worker hands its list work to the UI thread through the pump.
    EndRecorder ends;
    BoxAnswerer boxes;
    MainWindow w(dir.session, ends.End());
    ChooseAccountWhenAsked(QString::fromStdString(sandbox.Seller().nick));
    QVERIFY(!sandbox.AdminPost("faults", R"({"path":"/router/rest","api_method":"taobao.user.seller.get",)"
                                         R"("error_rate":1,"first_n":2})").empty());
    QStringList unreachable;
    bool loginShown = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &w, [&] {
      const QString status = Control<QLabel>(&w, "标签3")->text();
      if (status.contains("无法连接淘宝API服务器") && !unreachable.contains(status)) unreachable << status;
      for (QWidget* t : QApplication::topLevelWidgets()) loginShown |= t->objectName() == "AuthWindow" && t->isVisible();
    });
    watch.start(20);
    QVERIFY(RunStartupToEnd(w));
    watch.stop();
    QCOMPARE(unreachable.size(), 2);
    QVERIFY2(unreachable[1].contains("第 2 次"), qPrintable(unreachable.join('|')));
    QVERIFY(!loginShown);
    QAbstractItemModelTester tester(w.UnratedList().Model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    QVERIFY(ends.codes.empty());
    QVERIFY(boxes.boxes.empty());
    QCOMPARE(dir.session.SessionKey, sandbox.Seller().session);
    QVERIFY(Control<QLabel>(&w, "标签3")->text().startsWith("已成功获取Session授权 V"));
    QVERIFY(Control<QLabel>(&w, "标签5")->text().contains(QString::fromStdString(sandbox.Seller().nick)));
    QVERIFY(w.Tray()->isVisible());
    // The busy picture's caption says what the first load is doing, each of
    // its texts whole in its box.
    auto* caption = Control<QLabel>(&w, "忙碌说明");
    QVERIFY(caption->isVisibleTo(&w));
    QVERIFY(caption->text().startsWith("正在读取订单"));
    QStringList cutCaptions;
    QTimer captionWatch;
    QObject::connect(&captionWatch, &QTimer::timeout, &w, [&] {
      const QRect room(0, 0, caption->width(), 100000);
      const QRect needed = caption->fontMetrics().boundingRect(room, Qt::AlignCenter | Qt::TextWordWrap, caption->text());
      if (caption->isVisibleTo(&w) && (needed.height() > caption->height() || needed.width() > caption->width()))
        cutCaptions << caption->text();
    });
    captionWatch.start(5);
    // The first load fills the left list and puts the busy picture away.
    QTRY_VERIFY_WITH_TIMEOUT(w.Book().Unrated().RowCount() > 0, 15000);
    QCOMPARE(w.UnratedList().Widget()->model()->rowCount(), w.Book().Unrated().RowCount());
    QTRY_VERIFY_WITH_TIMEOUT(!FindControl(&w, "图片框2")->isVisibleTo(&w), 15000);
    captionWatch.stop();
    QVERIFY(!caption->isVisibleTo(&w));
    QVERIFY2(cutCaptions.isEmpty(), qPrintable(cutCaptions.join('|')));
    QTRY_VERIFY_WITH_TIMEOUT(!w.Run() || !w.Run()->Loader().Running(), 15000);
    QCoreApplication::processEvents();
    // The tray tip names the seller and follows the number of orders waiting
    // (and of the alerts the seeded buyers' bad ratings raised).
    auto tip = [&] {
      const int unseen = w.Run()->Alerts().UnseenCount();
      return "Quillmere — " + QString::fromStdString(sandbox.Seller().nick) + "\n等待评价的订单：" +
             QString::number(w.Book().Unrated().RowCount()) +
             (unseen > 0 ? "\n未读差评提醒：" + QString::number(unseen) : QString());
    };
    QCOMPARE(w.Tray()->toolTip(), tip());
    const int waiting = w.Book().Unrated().RowCount();
    QVERIFY(w.Book().Unrated().Remove(w.Book().Unrated().Row(0).order.tid));
    QCOMPARE(w.Tray()->toolTip(), tip());
    QVERIFY(w.Tray()->toolTip().contains("等待评价的订单：" + QString::number(waiting - 1)));
  }

  // A call limit and a timestamp the platform refuses at the session check
  // (the machine's clock two days off): the status line says which, nothing
  // asks the seller to log in, and the start goes on by itself.
  void troubleAtTheStartIsNoRefusedKey() {
    Sandbox sandbox;
    QVERIFY(sandbox.Ok());
    ProgramDir dir;
    QVERIFY(sandbox.WriteConfig(dir.File("Config.ini")));
    dir.session.endpoints = Endpoints::AtBase(sandbox.BaseUrl());
    EndRecorder ends;
    BoxAnswerer boxes;
    MainWindow w(dir.session, ends.End());
    ChooseAccountWhenAsked(QString::fromStdString(sandbox.Seller().nick));
    QVERIFY(!sandbox.AdminPost("faults", nlohmann::json{{"path", "/router/rest"}, {"api_method", "taobao.user.seller.get"},
                                                        {"reply_body", "<error_response><code>7</code><msg>App Call Limited</msg>"
                                                                       "<sub_code>accesscontrol.limited-by-app-access-count</sub_code>"
                                                                       "</error_response>"},
                                                        {"first_n", 1}}.dump()).empty());
    QVERIFY(!sandbox.AdminPost("clock", R"({"offset_seconds":172800})").empty());
    QStringList statuses;
    bool loginShown = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &w, [&] {
      // The whole line is the status's tool tip; the line itself may be cut to fit.
      const QString status = Control<QLabel>(&w, "标签3")->toolTip();
      if (!statuses.contains(status)) statuses << status;
      for (QWidget* t : QApplication::topLevelWidgets()) loginShown |= t->objectName() == "AuthWindow" && t->isVisible();
    });
    watch.start(20);
    QVERIFY(RunStartupToEnd(w));
    watch.stop();
    QVERIFY(!loginShown);
    QVERIFY(ends.codes.empty());
    QVERIFY(boxes.boxes.empty());
    const QStringList limited = statuses.filter("淘宝API服务器暂时不能使用，无需重新登录");
    QCOMPARE(limited.size(), 1);
    QVERIFY2(limited[0].contains("App Call Limited (accesscontrol.limited-by-app-access-count)"), qPrintable(limited[0]));
    QVERIFY(Control<QLabel>(&w, "标签3")->text().startsWith("已成功获取Session授权 V"));
    // The platform's time, two days ahead of the machine's, is the run's.
    const PlatformClock& clock = dir.session.link->Clock();
    QVERIFY(std::fabs(clock.Now() - clock.Local() - 172800) < 5);
    QTRY_VERIFY_WITH_TIMEOUT(!w.Run() || !w.Run()->Loader().Running(), 15000);
  }

  void givenDataDirThatIsNoDirectoryIsNamedInABox() {
    ProgramDir dir;
    WriteFileBytes(dir.File("plain"), "x");
    for (const std::string& bad : {dir.File("missing"), dir.File("plain")}) {
      BoxAnswerer boxes;
      QVERIFY(!UseProgramDirOrSay(dir.session, bad));
      QCOMPARE(boxes.boxes.size(), size_t(1));
      QCOMPARE(boxes.boxes[0].title, QString(kBadDataDirTitle));
      QVERIFY2(boxes.boxes[0].text.contains(QString::fromStdString(bad)), qPrintable(boxes.boxes[0].text));
    }
    QVERIFY(!std::filesystem::exists(dir.File("missing")));
    BoxAnswerer none;
    dir.session.programDir.clear();
    QVERIFY(UseProgramDirOrSay(dir.session, dir.dir.str()));
    QCOMPARE(dir.session.programDir, dir.dir.str());
    QVERIFY(none.boxes.empty());
  }

  void closingTheAccountDialogEndsTheStartUp() {
    ProgramDir dir("[卖家]\r\n");
    EndRecorder ends;
    MainWindow w(dir.session, ends.End());
    QTimer::singleShot(0, [] {
      for (QWidget* t : QApplication::topLevelWidgets()) {
        if (t->objectName() == "AccountDialog" && t->isVisible()) Control<QPushButton>(t, "超级按钮1")->click();
      }
    });
    QVERIFY(!RunStartupToEnd(w));
    QCOMPARE(ends.codes, std::vector<int>({0}));
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
