// A new seller's first day on the desktop: the first start without a
// Config.ini, every label of the windows whole in the font in use, the status
// line and the notices kept without a tray, the window's size per account, the
// lists' counts, a later start of the same account, and Qt's own buttons in
// Chinese.
#include <QDoubleSpinBox>
#include <QPlainTextEdit>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>
#include <sys/stat.h>

#include <atomic>
#include <climits>
#include <thread>

#include "rating/comments.h"
#include "rating/run_settings.h"
#include "rating/schedule.h"
#include "app/account_dialog.h"
#include "app/account_setup.h"
#include "app/app.h"
#include "app/builder.h"
#include "app/instance_channel.h"
#include "app/main_window.h"
#include "rating/startup.h"
#include "app/translations.h"
#include "app_test_support.h"
#include "orders/order.h"
#include "settings/config.h"
#include "util/file_io.h"

using namespace qm;
using namespace qm::test;

namespace {

// The texts of a window that do not fit their boxes in the font they are drawn with.
QStringList CutTexts(QWidget* window) {
  QStringList cut;
  auto check = [&](QWidget* w, const QString& text, int room, int height, bool wraps) {
    if (text.trimmed().isEmpty()) return;
    const QFontMetrics fm(w->font());
    const bool fits = wraps ? fm.boundingRect(QRect(0, 0, room, INT_MAX), Qt::TextWordWrap, text).height() <= height
                            : fm.horizontalAdvance(text) <= room && fm.tightBoundingRect(text).height() <= height;
    if (!fits) {
      cut << QString("%1/%2 \"%3\" in %4×%5 (%6 needs %7)")
                 .arg(window->objectName(), w->objectName(), text)
                 .arg(room)
                 .arg(height)
                 .arg(w->font().family())
                 .arg(fm.horizontalAdvance(text));
    }
  };
  for (QLabel* label : window->findChildren<QLabel*>()) {
    if (label->window() != window) continue;
    const QRect box = label->contentsRect();
    check(label, label->text(), box.width(), box.height(), label->wordWrap());
  }
  for (QPushButton* button : window->findChildren<QPushButton*>()) {
    if (button->window() != window || !button->isVisibleTo(window)) continue;
    check(button, button->text(), button->width() - 2, button->height(), false);
  }
  return cut;
}

}  // namespace

class FirstDayTest : public QObject {
  Q_OBJECT
 private slots:
  void everyLabelOfTheWindowsIsWhole() {
    ProgramDir dir;
    QStringList cut;
    std::vector<const WindowLayout*> layouts = AllWindowLayouts();
    layouts.push_back(&AccountSetupLayout());
    for (const WindowLayout* layout : layouts) {
      QWidget window;
      BuildWindow(&window, *layout);
      cut += CutTexts(&window);
    }
    // The main window's list titles with a four-digit count.
    MainWindow w(dir.session, UnexpectedEnd());
    QVERIFY(w.OpenRun());
    std::vector<Order> orders;
    for (int i = 0; i < 1234; ++i) orders.push_back(Order{std::to_string(1000000 + i), "买家", "2026-01-01 00:00:00"});
    w.Book().Unrated().Append(orders);
    w.Book().BuyerRated().Append(orders);
    QCOMPARE(Control<QLabel>(&w, "标签2")->text(), QString("对方已评价，我没评价的订单（1234）"));
    cut += CutTexts(&w);
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join("\n")));
  }

  // No Config.ini: the account box says what to do, "添加帐号" opens the form,
  // which writes the section for the owner only and logs in.
  void aFirstStartIsSetUpInTheForm() {
    ProgramDir dir;
    EndRecorder ends;
    BoxAnswerer boxes;
    AccountDialog dialog(dir.session, ends.End());
    QVERIFY(dialog.AccountBox()->lineEdit()->placeholderText().contains("添加帐号"));
    bool formSeen = false;
    WhenModal("AccountSetupDialog", [&](QWidget* form) {
      auto* setup = static_cast<AccountSetupDialog*>(form);
      // The key first, the secret masked, even without a name yet.
      formSeen = setup->focusWidget() == setup->AppKeyBox() && setup->AppSecretBox()->echoMode() == QLineEdit::Password;
      setup->SellerBox()->setText("新卖家");
      setup->AppKeyBox()->setText(" 12345678 ");
      // Without the secret the form stays and says so.
      setup->SaveButton()->click();
      QVERIFY(setup->isVisible());
      setup->AppSecretBox()->setText("abcdef0123456789");
      // The standing comment is shown before anything is posted with it;
      // the seller's words go out without the line break typed after them.
      formSeen = formSeen && setup->CommentBox()->toPlainText() == QString("欢迎再次光临！") &&
                 setup->RatingHoursBox()->value() == 24.0;
      setup->CommentBox()->setPlainText("谢谢光临，欢迎常来！\n");
      setup->RatingHoursBox()->setValue(30);
      setup->SaveButton()->click();
    });
    QTimer::singleShot(0, &dialog, [&] { dialog.AddButton()->click(); });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QVERIFY(formSeen);
    QCOMPARE(boxes.boxes.size(), size_t(1));
    QCOMPARE(boxes.boxes[0].icon, QMessageBox::Warning);
    QCOMPARE(dir.session.sellerNick, std::string("新卖家"));
    QCOMPARE(dir.session.AppKey, std::string("12345678"));
    QCOMPARE(dir.session.AppSecret, std::string("abcdef0123456789"));
    QCOMPARE(AccountNames(dir.Data()), std::vector<std::string>{"新卖家"});
    struct stat st {};
    QCOMPARE(::stat(dir.File("Config.ini").c_str(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0600u);
    QVERIFY(ends.codes.empty());
    // The start reads them: the run rates with what the form showed.
    QVERIFY(LoadAutoComment(dir.Data(), "新卖家", &dir.session.autoContent));
    dir.session.ratingHours = ReadRatingHours(dir.Data(), "新卖家");
    const RunSettings settings = CurrentRunSettings(dir.session);
    QCOMPARE(settings.FirstComment(), std::string("谢谢光临，欢迎常来！"));
    QCOMPARE(settings.ratingHours, 30.0f);
  }

  // An account without a key: the message, then the form for that account;
  // saved, the start-up goes on to the login.
  void anEmptyKeyLeadsToTheFormAndThenTheLogin() {
    ProgramDir dir("[卖家]\r\nappkey=\r\n");
    dir.session.endpoints = Endpoints::AtBase("http://127.0.0.1:1");
    EndRecorder ends;
    BoxAnswerer boxes;
    MainWindow w(dir.session, ends.End());
    WhenModal("AccountDialog", [](QWidget* d) {
      Control<QComboBox>(d, "组合框1")->setEditText("卖家");
      Control<QPushButton>(d, "超级按钮2")->click();
    });
    WhenModal("AccountSetupDialog", [](QWidget* form) {
      auto* setup = static_cast<AccountSetupDialog*>(form);
      QVERIFY(setup->SellerBox()->isReadOnly());
      QCOMPARE(setup->SellerBox()->text(), QString("卖家"));
      setup->AppKeyBox()->setText("k");
      setup->AppSecretBox()->setText("s");
      setup->SaveButton()->click();
    });
    bool login = false;
    WhenModal("AuthWindow", [&](QWidget* auth) {
      login = true;
      Control<QPushButton>(auth, "超级按钮1")->click();
    });
    QVERIFY(!RunStartupToEnd(w));
    QVERIFY(login);
    QCOMPARE(ReadAppKey(dir.Data(), "卖家"), std::string("k"));
    QCOMPARE(ReadAppSecret(dir.Data(), "卖家"), std::string("s"));
    QCOMPARE(boxes.boxes.size(), size_t(1));
    QVERIFY(boxes.boxes[0].text.startsWith("‘AppKey’或‘AppSecret’为空，请检查！"));
  }

  // The status line takes the title bar's free width, elides the rest and
  // shows it whole on hover; the program's notices without a tray are kept, in order.
  void theStatusLineAndTheAlertsAreWhole() {
    ProgramDir dir;
    dir.session.sellerNick = "卖家";
    BoxAnswerer boxes;
    MainWindow w(dir.session, UnexpectedEnd());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto* status = Control<QLabel>(&w, "标签3");
    auto* title = Control<QLabel>(&w, "标签5");
    const QString load = "订单读取完成（用时 12 秒），共读取 1234 笔，双方未评价 567 笔";
    w.View().setStatus(load.toStdString());
    QCOMPARE(status->text(), load);  // whole, in the room the title leaves
    QVERIFY(status->x() < 424);
    QVERIFY(status->geometry().right() < Control<QPushButton>(&w, "超级按钮2")->x());
    QVERIFY(title->geometry().right() < status->x());
    // Drawn whole: its lines fit the box, and the box the title bar.
    const QRect needed = status->fontMetrics().boundingRect(QRect(0, 0, status->width(), INT_MAX), Qt::TextWordWrap, load);
    QVERIFY(needed.height() <= status->height());
    QVERIFY(status->geometry().bottom() < 48);
    // Beyond two lines: elided.
    const QString longer = load + "；" + load + "；" + load;
    w.View().setStatus(longer.toStdString());
    QVERIFY(status->text().endsWith(QChar(0x2026)));
    QVERIFY(status->fontMetrics()
                .boundingRect(QRect(0, 0, status->width(), INT_MAX), Qt::TextWordWrap, status->text())
                .height() <= status->height());
    QVERIFY(status->toolTip().contains(longer));

    w.View().notify("自动评价已暂停", "不自动评价列表‘甲’无法读取");
    w.View().notify("淘宝API服务器无法连接", "‘乙’");
    w.View().setStatus("已自动评价 3 笔");
    QCOMPARE(w.KeptNotices().size(), size_t(2));
    QVERIFY(w.NoticesButton()->isVisible());
    QVERIFY(w.NoticesButton()->toolTip().indexOf("甲") < w.NoticesButton()->toolTip().indexOf("乙"));
    QVERIFY(status->geometry().right() < w.NoticesButton()->x());
    for (int i = 0; i < 7; ++i) w.View().notify("自动评价已暂停", "第" + std::to_string(i) + "条");
    QCOMPARE(w.KeptNotices().size(), kKeptNotices);
    QCOMPARE(w.KeptNotices().back(), std::string("自动评价已暂停：第6条"));
    w.NoticesButton()->click();
    QCOMPARE(boxes.boxes.size(), size_t(1));
    QVERIFY(boxes.boxes[0].text.contains("第2条") && boxes.boxes[0].text.contains("第6条"));
    QVERIFY(!w.NoticesButton()->isVisible());
    QVERIFY(w.KeptNotices().empty());
  }

  // The lists grow with the window, their titles count them, and the size
  // is kept per account.
  void theWindowGrowsAndRemembersItsSize() {
    ProgramDir dir("[卖家]\r\nappkey=k\r\nAppSecret=s\r\n");
    dir.session.sellerNick = "卖家";
    EndRecorder ends;
    {
      MainWindow w(dir.session, ends.End());
      QVERIFY(w.OpenRun());
      w.show();
      QVERIFY(QTest::qWaitForWindowExposed(&w));
      QCOMPARE(w.size(), QSize(739, 619));
      QCOMPARE(w.minimumSize(), QSize(739, 619));
      QTreeView* left = w.UnratedList().Widget();
      QTreeView* right = w.BuyerRatedList().Widget();
      const QSize leftBefore = left->size(), rightBefore = right->size();
      w.resize(1039, 819);
      QTRY_COMPARE(w.size(), QSize(1039, 819));
      QCOMPARE(left->height(), leftBefore.height() + 200);
      QCOMPARE(left->width() - leftBefore.width() + right->width() - rightBefore.width(), 300);
      QVERIFY(right->width() > rightBefore.width());
      QCOMPARE(Control<QPushButton>(&w, "超级按钮1")->geometry().right(), 1039 - 10);
      w.Book().BuyerRated().Append({Order{"11", "甲", "2026-01-01 00:00:00"}, Order{"12", "乙", "2026-01-01 00:00:00"}});
      QCOMPARE(Control<QLabel>(&w, "标签2")->text(), QString("对方已评价，我没评价的订单（2）"));
      QCOMPARE(Control<QLabel>(&w, "标签1")->text(), QString("双方未评价的订单（0）"));
      w.End(0);  // every end keeps the size first
    }
    QCOMPARE(ends.codes, std::vector<int>({0}));
    QVERIFY(ReadFileBytes(dir.File("Config.ini")).find("appkey=k") != std::string::npos);
    // The next start of the account opens at that size.
    dir.session.endpoints = Endpoints::AtBase("http://127.0.0.1:1");
    BoxAnswerer boxes;
    MainWindow again(dir.session, ends.End());
    WhenModal("AccountDialog", [](QWidget* d) {
      Control<QComboBox>(d, "组合框1")->setEditText("卖家");
      Control<QPushButton>(d, "超级按钮2")->click();
    });
    QSize restored;
    WhenModal("AuthWindow", [&](QWidget* auth) {
      restored = again.size();
      again.resize(939, 719);
      Control<QPushButton>(auth, "超级按钮1")->click();
    });
    QVERIFY(!RunStartupToEnd(again));
    QCOMPARE(restored, QSize(1039, 819));
    // The login window ends the program through the main window, which keeps its size first.
    QCOMPARE(ends.codes, std::vector<int>({0, 0}));
    QCOMPARE(ReadSetting(dir.Data(), "卖家", kKeyWindowSize), std::string("939,719"));
  }

  // A later start of the account reaches the running one, which shows itself.
  void aLaterStartOfTheAccountShowsTheRunningWindow() {
    ProgramDir a, b;
    const QString name = InstanceSocketName(a.dir.str(), "Shop");
    QCOMPARE(InstanceSocketName(a.dir.str(), "shop"), name);
    QVERIFY(InstanceSocketName(b.dir.str(), "Shop") != name);
    QCOMPARE(InstanceChannel::AskToShow(name, 200), ChannelOutcome::NoAnswer);
    int shown = 0;
    InstanceChannel running;
    QCOMPARE(running.Listen(name, [&shown] { ++shown; }), ChannelOutcome::Done);
    // The later start is another process; here a thread of its own.
    std::atomic<int> answered{-1};
    std::thread later([&] { answered = InstanceChannel::AskToShow(name) == ChannelOutcome::Done ? 1 : 0; });
    QTRY_VERIFY(answered.load() != -1);
    later.join();
    QCOMPARE(answered.load(), 1);
    QTRY_COMPARE(shown, 1);
  }

  // An account held by a run without a window (the runner) cannot be shown:
  // the later start says why it ends instead of ending without a word.
  void anAccountHeldByTheRunnerIsNamed() {
    ProgramDir dir("[卖家]\r\nappkey=k\r\nAppSecret=s\r\n");
    QProcess holder;
    holder.start("python3", {"-c",
                             "import fcntl,sys,time\n"
                             "f=open(sys.argv[1],'a'); fcntl.flock(f,fcntl.LOCK_EX); print('held',flush=True); time.sleep(30)",
                             QString::fromStdString(dir.File(RunLockFileName("卖家")))});
    QVERIFY(holder.waitForReadyRead(10000));
    QCOMPARE(holder.readLine().trimmed(), QByteArray("held"));
    EndRecorder ends;
    BoxAnswerer boxes;
    AccountDialog dialog(dir.session, ends.End());
    dialog.AccountBox()->setEditText("卖家");
    dialog.LoginButton()->click();
    holder.kill();
    holder.waitForFinished();
    QCOMPARE(ends.codes, std::vector<int>({0}));
    QCOMPARE(boxes.boxes.size(), size_t(1));
    QCOMPARE(boxes.boxes[0].title, QString(kAlreadyRunningTitle));
    QCOMPARE(boxes.boxes[0].icon, QMessageBox::Warning);

    // A standing comment file that cannot be read (here a folder in its
    // place) is no other run: the box says what is wrong with the file instead.
    std::filesystem::remove(dir.File("卖家的自动评价内容.txt"));
    std::filesystem::create_directory(dir.File("卖家的自动评价内容.txt"));
    AccountDialog again(dir.session, ends.End());
    again.AccountBox()->setEditText("卖家");
    again.LoginButton()->click();
    QCOMPARE(boxes.boxes.size(), size_t(2));
    QCOMPARE(boxes.boxes[1].title, QString(kFilesUnusableTitle));
    QVERIFY(boxes.boxes[1].text.contains("自动评价内容"));
  }

  // Qt's own buttons speak Chinese when the locale does, and when none is set.
  void qtsOwnButtonsSayChinese() {
    qputenv("LC_ALL", "");
    qputenv("LC_MESSAGES", "");
    qputenv("LANG", "");
    QCOMPARE(ProgramLocaleName(), std::string("zh_CN"));
    qputenv("LANG", "C.UTF-8");
    QCOMPARE(ProgramLocaleName(), std::string("zh_CN"));
    qputenv("LANG", "en_US.UTF-8");
    QCOMPARE(ProgramLocaleName(), std::string("en_US"));
    qputenv("LC_ALL", "zh_TW.UTF-8");
    QCOMPARE(ProgramLocaleName(), std::string("zh_TW"));
    qputenv("LC_ALL", "");
    qputenv("LANG", "");
    if (!InstallQtTranslations(*QCoreApplication::instance())) QSKIP("Qt's Chinese translations are not installed");
    QMessageBox box(QMessageBox::Question, "问", "确定吗？", QMessageBox::Ok | QMessageBox::Cancel);
    QCOMPARE(box.button(QMessageBox::Ok)->text().remove('&').remove(QRegularExpression("\\(.*\\)")), QString("确定"));
    QCOMPARE(box.button(QMessageBox::Cancel)->text().remove('&').remove(QRegularExpression("\\(.*\\)")),
             QString("取消"));
  }

  // Unknown options are refused before the window system starts.
  void theCommandLineIsReadFirst() {
    auto parse = [](std::vector<const char*> args) {
      args.insert(args.begin(), "quillmere");
      return ParseCommandLine(int(args.size()), const_cast<char**>(args.data()));
    };
    QVERIFY(parse({"--bogus"}).error.find("--bogus") != std::string::npos);
    QVERIFY(parse({"stray"}).error.find("stray") != std::string::npos);
    QVERIFY(parse({"--data-dir", "/x", "-platform", "offscreen", "-style=fusion"}).error.empty());
    QCOMPARE(parse({"--data-dir", "/x", "--account", "卖家"}).account, std::string("卖家"));
#ifdef QM_DESKTOP_BIN
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    program.setProcessEnvironment(env);
    program.start(QM_DESKTOP_BIN, {"--bogus"});
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitCode(), 2);
    QVERIFY(program.readAllStandardError().contains("usage:"));
    // Without a display: a line that says so, not an abort in the platform plugin.
    program.start(QM_DESKTOP_BIN, {"--data-dir", "/nonexistent"});
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 1);
    QVERIFY(program.readAllStandardError().contains("no display"));
#endif
  }
};

QTEST_MAIN(FirstDayTest)
#include "first_day_test.moc"
