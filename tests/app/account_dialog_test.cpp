// The seller-account choice: the list in file order, an empty account, a
// first-time account, a mistyped one, refused names, the colours, removing an
// account, the one used last and the close button.
#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QtTest>
#include <filesystem>

#include "app/account_dialog.h"
#include "app/account_setup.h"
#include "app/builder.h"
#include "app/main_window.h"
#include "app_test_support.h"
#include "rating/comments.h"
#include "rating/startup.h"
#include "settings/config.h"

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
    AccountDialog dialog(dir.session, UnexpectedEnd());
    QComboBox* box = dialog.AccountBox();
    QStringList items;
    for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
    QCOMPARE(items, QStringList({"zeta", "阿尔法", "mid"}));
    QCOMPARE(box->currentText(), QString());
    QCOMPARE(dialog.AccountColour(), kAccountIdleColour);
  }

  void withoutConfigTheListIsEmpty() {
    ProgramDir dir;
    AccountDialog dialog(dir.session, UnexpectedEnd());
    QCOMPARE(dialog.AccountBox()->count(), 0);
  }

  void emptyAccountDoesNothing() {
    ProgramDir dir("[seller]\r\nappkey=k\r\nAppSecret=s\r\n");
    EndRecorder ends;
    BoxAnswerer boxes;
    AccountDialog dialog(dir.session, ends.End());
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
    QVERIFY(dir.session.sellerNick.empty());
    // Only Config.ini: no comment file was made.
    QCOMPARE(std::distance(std::filesystem::directory_iterator(dir.dir.path()), {}), 1);
  }

  // A name that is not a section is set up first, then logged in with.
  void firstTimeAccountCreatesItsCommentFile() {
    ProgramDir dir("[老卖家]\r\nappkey=key1\r\nAppSecret=secret1\r\n");
    EndRecorder ends;
    BoxAnswerer boxes;
    DialogAnswerer<AccountSetupDialog> form([](AccountSetupDialog* setup) {
      setup->AppKeyBox()->setText("key2");
      setup->AppSecretBox()->setText("secret2");
      setup->SaveButton()->click();
    });
    AccountDialog dialog(dir.session, ends.End());
    const int result = RunDialog(dialog, [&] {
      dialog.AccountBox()->setEditText("新卖家");
      dialog.LoginButton()->click();
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QVERIFY(ends.codes.empty());
    QCOMPARE(boxes.boxes.size(), size_t(1));
    const std::string bytes = ReadFileBytes(dir.File("新卖家的自动评价内容.txt"));
    QCOMPARE(bytes.size(), size_t(14));
    QCOMPARE(QByteArray::fromStdString(bytes).toHex(), QByteArray("bbb6d3add4d9b4ceb9e2c1d9a3a1"));
    AppSession& s = dir.session;
    QCOMPARE(s.sellerNick, std::string("新卖家"));
    QCOMPARE(s.autoContent, std::string(kDefaultAutoComment));
    QCOMPARE(s.AppKey, std::string("key2"));
    QCOMPARE(s.AppSecret, std::string("secret2"));
  }

  void chosenAccountReadsItsKeyAndSecret() {
    ProgramDir dir("[a]\r\nappkey=ka\r\nAppSecret=sa\r\n[b]\r\nAppSecret = \"s b\"\r\nappkey=kb\r\n");
    WriteFileBytes(dir.File("b的自动评价内容.txt"), Utf8ToGbk("谢谢惠顾"));
    AccountDialog dialog(dir.session, UnexpectedEnd());
    const int result = RunDialog(dialog, [&] {
      dialog.AccountBox()->setCurrentIndex(1);
      dialog.LoginButton()->click();
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(dir.session.sellerNick, std::string("b"));
    QCOMPARE(dir.session.AppKey, std::string("kb"));
    QCOMPARE(dir.session.AppSecret, std::string("s b"));
    QCOMPARE(dir.session.autoContent, std::string("谢谢惠顾"));
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
    AccountDialog dialog(dir.session, ends.End());
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
    QVERIFY(dir.session.sellerNick.empty());
    // Nothing was made, here or above.
    QCOMPARE(std::distance(std::filesystem::directory_iterator(dir.dir.path()), {}), 1);
    QVERIFY(!std::filesystem::exists(dir.dir.path().parent_path() / "evil的自动评价内容.txt"));
  }

  void colourAndFocusFollowTheDropDown() {
    ProgramDir dir("[one]\r\n[two]\r\n");
    AccountDialog dialog(dir.session, UnexpectedEnd());
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

  // A mistyped name at start: the message names it, the form opens on the
  // key with the secret masked, and "×" or Esc on it come back to the box.
  // Nothing is written or made for the name, even when the program then
  // ends from the box.
  void aMistypedNameComesBackToTheBoxAndLeavesNothing() {
    ProgramDir dir("[青禾小铺]\r\nappkey=k1\r\nAppSecret=s1\r\n");
    const std::string before = ReadFileBytes(dir.File("Config.ini"));
    EndRecorder ends;
    BoxAnswerer boxes;
    MainWindow w(dir.session, ends.End());
    auto typo = [](QWidget* d) {
      Control<QComboBox>(d, "组合框1")->setEditText("青禾小浦");
      Control<QPushButton>(d, "超级按钮2")->click();
    };
    int forms = 0;
    bool keyFirst = true, masked = true, readOnly = true;
    std::function<void(QWidget*)> answerForm = [&](QWidget* form) {
      auto* setup = static_cast<AccountSetupDialog*>(form);
      ++forms;
      keyFirst = keyFirst && setup->focusWidget() == setup->AppKeyBox();
      masked = masked && setup->AppSecretBox()->echoMode() == QLineEdit::Password;
      readOnly = readOnly && setup->SellerBox()->isReadOnly() && setup->SellerBox()->text() == "青禾小浦";
      setup->AppSecretBox()->setText("typed, then thrown away");
      if (forms == 1) {
        Control<QPushButton>(form, "超级按钮2")->click();
        WhenModal("AccountDialog", typo);
        WhenModal("AccountSetupDialog", answerForm);
      } else {
        QTest::keyClick(setup->AppKeyBox(), Qt::Key_Escape);
        WhenModal("AccountDialog", [](QWidget* d) { Control<QPushButton>(d, "超级按钮1")->click(); });
      }
    };
    WhenModal("AccountDialog", typo);
    WhenModal("AccountSetupDialog", answerForm);
    QVERIFY(!RunStartupToEnd(w));
    QCOMPARE(forms, 2);
    QVERIFY(keyFirst && masked && readOnly);
    QCOMPARE(boxes.boxes.size(), size_t(2));
    QVERIFY(boxes.boxes[0].text.contains("“青禾小浦”"));
    QCOMPARE(ends.codes, std::vector<int>({0}));
    QCOMPARE(ReadFileBytes(dir.File("Config.ini")), before);
    QCOMPARE(std::distance(std::filesystem::directory_iterator(dir.dir.path()), {}), 1);
    QVERIFY(dir.session.sellerNick.empty());
  }

  // The account logged in with is chosen at the next opening. "删除帐号" asks
  // first, naming the account and the files that stay; an account that
  // another run holds is refused; a removed one leaves the list and the file,
  // and only its own lines leave the file.
  void accountsAreRemovedAfterTheQuestionAndTheLastUsedIsChosen() {
    ProgramDir dir("[甲]\r\nappkey=k1\r\nAppSecret=s1\r\n\r\n[丙]\r\nappkey=k3\r\n; 旧的\r\nAppSecret=s3\r\n\r\n"
                   "; 乙的店\r\n[乙]\r\nappkey=k2\r\nAppSecret=s2\r\n");
    WriteFileBytes(dir.File("丙的自动评价内容.txt"), Utf8ToGbk("谢谢"));
    EndRecorder ends;
    {
      AccountDialog first(dir.session, ends.End());
      QCOMPARE(first.AccountBox()->currentText(), QString());
      QVERIFY(!first.RemoveButton()->isEnabled());
      const int result = RunDialog(first, [&] {
        first.AccountBox()->setCurrentIndex(2);
        first.LoginButton()->click();
      });
      QCOMPARE(result, int(QDialog::Accepted));
    }
    QCOMPARE(dir.session.sellerNick, std::string("乙"));

    // 丙 runs elsewhere (the runner, say): the question, then the refusal.
    QProcess holder;
    holder.start("python3", {"-c",
                             "import fcntl,sys,time\n"
                             "f=open(sys.argv[1],'a'); fcntl.flock(f,fcntl.LOCK_EX); print('held',flush=True); time.sleep(30)",
                             QString::fromStdString(dir.File(RunLockFileName("丙")))});
    QVERIFY(holder.waitForReadyRead(10000));
    AccountDialog dialog(dir.session, ends.End());
    QCOMPARE(dialog.AccountBox()->currentText(), QString("乙"));
    QCOMPARE(dialog.AccountColour(), kAccountChosenColour);
    dialog.AccountBox()->setEditText("丙");
    QVERIFY(dialog.RemoveButton()->isEnabled());
    {
      BoxAnswerer boxes(QMessageBox::Ok);
      dialog.RemoveButton()->click();
      QCOMPARE(boxes.boxes.size(), size_t(2));
      QCOMPARE(boxes.boxes[0].icon, QMessageBox::Question);
      QVERIFY(boxes.boxes[0].text.contains("“丙”") && boxes.boxes[0].text.contains("保留"));
      QCOMPARE(boxes.boxes[1].icon, QMessageBox::Warning);
      QVERIFY(boxes.boxes[1].text.contains("正在运行"));
    }
    holder.kill();
    holder.waitForFinished();
    QCOMPARE(AccountNames(dir.Data()), std::vector<std::string>({"甲", "丙", "乙"}));

    // Cancel keeps it; OK removes it.
    {
      BoxAnswerer boxes(QMessageBox::Cancel);
      dialog.RemoveButton()->click();
      QCOMPARE(boxes.boxes.size(), size_t(1));
    }
    QCOMPARE(dialog.AccountBox()->count(), 3);
    {
      BoxAnswerer boxes(QMessageBox::Ok);
      dialog.RemoveButton()->click();
      QCOMPARE(boxes.boxes.size(), size_t(1));
    }
    QCOMPARE(dialog.AccountBox()->count(), 2);
    QCOMPARE(dialog.AccountBox()->itemText(1), QString("乙"));
    QCOMPARE(dialog.AccountBox()->currentText(), QString());
    QVERIFY(!dialog.RemoveButton()->isEnabled());
    QCOMPARE(ReadFileBytes(dir.File("Config.ini")),
             Utf8ToGbk("[甲]\r\nappkey=k1\r\nAppSecret=s1\r\n\r\n; 乙的店\r\n[乙]\r\nappkey=k2\r\nAppSecret=s2\r\n" +
                       std::string(kKeyLoginOrder) + "=1\r\n"));
    QCOMPARE(ReadFileBytes(dir.File("丙的自动评价内容.txt")), Utf8ToGbk("谢谢"));
    QVERIFY(ends.codes.empty());
    AccountDialog after(dir.session, ends.End());
    QCOMPARE(after.AccountBox()->currentText(), QString("乙"));
  }

  void closeButtonEndsTheProgram() {
    ProgramDir dir("[one]\r\n");
    EndRecorder ends;
    AccountDialog dialog(dir.session, ends.End());
    auto* close = Control<QPushButton>(&dialog, "超级按钮1");
    QCOMPARE(close->toolTip(), QString("关闭"));
    const int result = RunDialog(dialog, [&] { close->click(); });
    QCOMPARE(ends.codes, std::vector<int>({0}));
    QCOMPARE(result, int(QDialog::Rejected));
    QVERIFY(dir.session.sellerNick.empty());
  }
};

QTEST_MAIN(AccountDialogTest)
#include "account_dialog_test.moc"
