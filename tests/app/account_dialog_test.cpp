// The seller-account choice: the list in file order, an empty account, a
// first-time account, refused names, the colours and the close button.
#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <filesystem>

#include "app/account_dialog.h"
#include "app/builder.h"
#include "app_test_support.h"
#include "rating/comments.h"

using namespace qm;
using namespace qm::test;

namespace {
// Runs the dialog; `act` runs once its loop is going. Returns exec()'s result.
int RunDialog(AccountDialog& dialog, std::function<void()> act) {
  QTimer::singleShot(0, &dialog, [act] { act(); });
  QTimer::singleShot(5000, &dialog, [&dialog] { dialog.done(-1); });  // never hang a test
  return dialog.exec();
}
}  // namespace

class AccountDialogTest : public QObject {
  Q_OBJECT
 private slots:
  void listsTheSectionsInFileOrder() {
    ProgramDir dir("[zeta]\r\nappkey=1\r\n[阿尔法]\r\nappkey=2\r\n; a comment\r\n[mid]\r\n[ZETA]\r\nappkey=3\r\n");
    AccountDialog dialog;
    QComboBox* box = dialog.AccountBox();
    QStringList items;
    for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
    QCOMPARE(items, QStringList({"zeta", "阿尔法", "mid"}));
    QCOMPARE(box->currentText(), QString());
    QCOMPARE(dialog.AccountColour(), kAccountIdleColour);
  }

  void withoutConfigTheListIsEmpty() {
    ProgramDir dir;
    AccountDialog dialog;
    QCOMPARE(dialog.AccountBox()->count(), 0);
  }

  void emptyAccountDoesNothing() {
    ProgramDir dir("[seller]\r\nappkey=k\r\nAppSecret=s\r\n");
    EndRecorder ends;
    BoxAnswerer boxes;
    AccountDialog dialog;
    bool stillOpen = false;
    const int result = RunDialog(dialog, [&] {
      dialog.LoginButton()->click();
      stillOpen = dialog.isVisible();
      dialog.done(7);
    });
    QVERIFY(stillOpen);
    QCOMPARE(result, 7);
    QVERIFY(ends.codes.empty());
    QVERIFY(boxes.boxes.empty());
    QVERIFY(Session().sellerNick.empty());
    // Only Config.ini: no comment file was made.
    QCOMPARE(std::distance(std::filesystem::directory_iterator(dir.dir.path()), {}), 1);
  }

  void firstTimeAccountCreatesItsCommentFile() {
    ProgramDir dir("[老卖家]\r\nappkey=key1\r\nAppSecret=secret1\r\n");
    EndRecorder ends;
    AccountDialog dialog;
    const int result = RunDialog(dialog, [&] {
      dialog.AccountBox()->setEditText("新卖家");
      dialog.LoginButton()->click();
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QVERIFY(ends.codes.empty());
    const std::string bytes = ReadFileBytes(dir.File("新卖家的自动评价内容.txt"));
    QCOMPARE(bytes.size(), size_t(14));
    QCOMPARE(QByteArray::fromStdString(bytes).toHex(), QByteArray("bbb6d3add4d9b4ceb9e2c1d9a3a1"));
    AppSession& s = Session();
    QCOMPARE(s.sellerNick, std::string("新卖家"));
    QCOMPARE(s.autoContent, std::string(kDefaultAutoComment));
    // A name that is not a section: no key and no secret.
    QVERIFY(s.AppKey.empty());
    QVERIFY(s.AppSecret.empty());
  }

  void chosenAccountReadsItsKeyAndSecret() {
    ProgramDir dir("[a]\r\nappkey=ka\r\nAppSecret=sa\r\n[b]\r\nAppSecret = \"s b\"\r\nappkey=kb\r\n");
    WriteFileBytes(dir.File("b的自动评价内容.txt"), Utf8ToGbk("谢谢惠顾"));
    AccountDialog dialog;
    const int result = RunDialog(dialog, [&] {
      dialog.AccountBox()->setCurrentIndex(1);
      dialog.LoginButton()->click();
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(Session().sellerNick, std::string("b"));
    QCOMPARE(Session().AppKey, std::string("kb"));
    QCOMPARE(Session().AppSecret, std::string("s b"));
    QCOMPARE(Session().autoContent, std::string("谢谢惠顾"));
    // The existing file is kept as it was.
    QCOMPARE(ReadFileBytes(dir.File("b的自动评价内容.txt")), Utf8ToGbk("谢谢惠顾"));
  }

  void refusesNamesThatCannotNameFiles_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("slash") << "../evil";
    QTest::newRow("inner slash") << "a/b";
    QTest::newRow("backslash") << "a\\b";
    QTest::newRow("dots") << "..";
    QTest::newRow("tab") << "a\tb";
    QTest::newRow("line break") << "a\nb";
    QTest::newRow("not in GBK") << "卖家😀";
    QTest::newRow("korean") << "판매자";
    QTest::newRow("reserved") << "a:b";
  }
  void refusesNamesThatCannotNameFiles() {
    QFETCH(QString, name);
    ProgramDir dir("[ok]\r\nappkey=1\r\nAppSecret=2\r\n");
    EndRecorder ends;
    BoxAnswerer boxes;
    AccountDialog dialog;
    bool stillOpen = false;
    RunDialog(dialog, [&] {
      dialog.AccountBox()->setEditText(name);
      dialog.LoginButton()->click();
      stillOpen = dialog.isVisible();
      dialog.done(3);
    });
    QVERIFY(stillOpen);
    QCOMPARE(boxes.boxes.size(), size_t(1));
    QCOMPARE(boxes.boxes[0].title, QString(kBadAccountTitle));
    QCOMPARE(boxes.boxes[0].icon, QMessageBox::Warning);
    QVERIFY(ends.codes.empty());
    QVERIFY(Session().sellerNick.empty());
    // Nothing was made, here or above.
    QCOMPARE(std::distance(std::filesystem::directory_iterator(dir.dir.path()), {}), 1);
    QVERIFY(!std::filesystem::exists(dir.dir.path().parent_path() / "evil的自动评价内容.txt"));
  }

  void colourAndFocusFollowTheDropDown() {
    ProgramDir dir("[one]\r\n[two]\r\n");
    AccountDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QComboBox* box = dialog.AccountBox();
    box->showPopup();
    QTRY_VERIFY(box->view()->isVisible());
    box->setCurrentIndex(1);
    box->hidePopup();
    QTRY_COMPARE(dialog.AccountColour(), kAccountChosenColour);
    QTRY_VERIFY(dialog.LoginButton()->hasFocus());
    // Back to the box, empty it, then the button takes the focus: the idle colour again.
    box->setFocus();
    box->setEditText(QString());
    dialog.LoginButton()->setFocus();
    QTRY_COMPARE(dialog.AccountColour(), kAccountIdleColour);
    // With a text the colour stays.
    box->showPopup();
    box->hidePopup();
    QTRY_COMPARE(dialog.AccountColour(), kAccountChosenColour);
    box->setFocus();
    box->setEditText("one");
    dialog.LoginButton()->setFocus();
    QTest::qWait(20);
    QCOMPARE(dialog.AccountColour(), kAccountChosenColour);
  }

  void closeButtonEndsTheProgram() {
    ProgramDir dir("[one]\r\n");
    EndRecorder ends;
    AccountDialog dialog;
    auto* close = Control<QPushButton>(&dialog, "超级按钮1");
    QCOMPARE(close->toolTip(), QString("关闭"));
    const int result = RunDialog(dialog, [&] { close->click(); });
    QCOMPARE(ends.codes, std::vector<int>({0}));
    QCOMPARE(result, int(QDialog::Rejected));
    QVERIFY(Session().sellerNick.empty());
  }
};

QTEST_MAIN(AccountDialogTest)
#include "account_dialog_test.moc"
