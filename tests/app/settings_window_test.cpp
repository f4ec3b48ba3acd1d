// The settings window: what it shows, the saving rules of "设置API信息"
// (an empty box writes nothing, the running session keeps its values), the
// close button, and "添加订单" storing and replacing an order's comment.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>
#include <filesystem>
#include <functional>

#include "app/builder.h"
#include "app/main_window.h"
#include "app/settings_window.h"
#include "app_test_support.h"
#include "rating/comments.h"
#include "settings/config.h"

using namespace qm;
using namespace qm::test;

namespace {

const char* kConfig =
    "[卖家甲]\r\nappkey=oldkey\r\nAppSecret=oldsecret\r\n"
    "[卖家乙]\r\nSessionKey=tok\r\n";

// Opens the window the way the main window does; `act` runs inside its modal
// loop with the window. Returns whether the window was still open after `act`.
bool WithSettings(ProgramDir& dir, QWidget* owner, const std::function<void(SettingsWindow*)>& act) {
  bool open = false;
  QTimer::singleShot(0, owner, [&] {
    auto* window = qobject_cast<SettingsWindow*>(QApplication::activeModalWidget());
    QVERIFY(window != nullptr);
    act(window);
    open = window->isVisible();
    if (open) window->done(QDialog::Rejected);
  });
  QTimer::singleShot(5000, owner, [] {  // never hang a test
    if (QWidget* w = QApplication::activeModalWidget()) w->close();
  });
  OpenSettingsWindow(dir.session, nullptr, owner);
  return open;
}

QPushButton* Button(SettingsWindow* w, const char* name) { return Control<QPushButton>(w, QString::fromUtf8(name)); }

void UseSeller(ProgramDir& dir, const std::string& nick) {
  dir.session.sellerNick = nick;
  dir.session.AppKey = ReadAppKey(dir.Data(), nick);
  dir.session.AppSecret = ReadAppSecret(dir.Data(), nick);
}

}  // namespace

class SettingsWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void showsTheRunningSellersKeyAndSecret() {
    ProgramDir dir(kConfig);
    UseSeller(dir, "卖家甲");
    QWidget owner;
    WithSettings(dir, &owner, [&](SettingsWindow* w) {
      QCOMPARE(w->objectName(), QString("SettingsWindow"));
      QVERIFY(w->isModal());
      QCOMPARE(w->parentWidget(), &owner);
      QCOMPARE(w->AppKeyBox()->text(), QString("oldkey"));
      QCOMPARE(w->AppSecretBox()->text(), QString("oldsecret"));
      // Masked until the seller asks to see it.
      QCOMPARE(w->AppSecretBox()->echoMode(), QLineEdit::Password);
      QVERIFY(w->AppSecretBox()->displayText() != QString("oldsecret"));
      auto* reveal = w->AppSecretBox()->findChild<QAction*>("显示AppSecret");
      QVERIFY(reveal != nullptr);
      reveal->trigger();
      QCOMPARE(w->AppSecretBox()->displayText(), QString("oldsecret"));
      reveal->trigger();
      QCOMPARE(w->AppSecretBox()->echoMode(), QLineEdit::Password);
      QCOMPARE(w->SellerBox()->text(), QString("卖家甲"));
      QCOMPARE(Control<QLabel>(w, "标签5")->text(), QString("               系统设置"));
    });
    // A section without the keys shows empty boxes.
    UseSeller(dir, "卖家乙");
    WithSettings(dir, &owner, [&](SettingsWindow* w) {
      QCOMPARE(w->AppKeyBox()->text(), QString());
      QCOMPARE(w->AppSecretBox()->text(), QString());
      QCOMPARE(w->SellerBox()->text(), QString("卖家乙"));
    });
  }

  void mainWindowButtonOpensAFreshModalWindowEachTime() {
    ProgramDir dir(kConfig);
    UseSeller(dir, "卖家甲");
    MainWindow main(dir.session, UnexpectedEnd());
    std::vector<SettingsWindow*> seen;
    for (int i = 0; i < 2; ++i) {
      QTimer::singleShot(0, &main, [&] {
        auto* w = qobject_cast<SettingsWindow*>(QApplication::activeModalWidget());
        QVERIFY(w != nullptr);
        QCOMPARE(w->parentWidget(), static_cast<QWidget*>(&main));
        seen.push_back(w);
        Button(w, "超级按钮2")->click();
      });
      Control<QPushButton>(&main, "超级按钮4")->click();
    }
    QCOMPARE(seen.size(), size_t(2));
    // Each window is gone once closed.
    QVERIFY(main.findChildren<SettingsWindow*>().isEmpty());
  }

  void savingWritesTheSellersSectionAndLeavesTheSessionAlone() {
    ProgramDir dir(kConfig);
    UseSeller(dir, "卖家乙");
    QWidget owner;
    const bool open = WithSettings(dir, &owner, [&](SettingsWindow* w) {
      w->AppKeyBox()->setText("newkey");
      w->AppSecretBox()->setText("newsecret");
      w->SellerBox()->setText("卖家甲");  // only shown: the section stays the running seller's
      Button(w, "超级按钮1")->click();
    });
    QVERIFY(open);
    QCOMPARE(ReadAppKey(dir.Data(), "卖家乙"), std::string("newkey"));
    QCOMPARE(ReadAppSecret(dir.Data(), "卖家乙"), std::string("newsecret"));
    QCOMPARE(ReadSessionKey(dir.Data(), "卖家乙"), std::string("tok"));
    QCOMPARE(ReadAppKey(dir.Data(), "卖家甲"), std::string("oldkey"));
    QVERIFY(dir.session.AppKey.empty());
    QVERIFY(dir.session.AppSecret.empty());
    // The next opening reads the file again.
    WithSettings(dir, &owner, [&](SettingsWindow* w) { QCOMPARE(w->AppKeyBox()->text(), QString("newkey")); });
  }

  void runningSessionKeepsItsOldValues() {
    ProgramDir dir(kConfig);
    UseSeller(dir, "卖家甲");
    QWidget owner;
    WithSettings(dir, &owner, [&](SettingsWindow* w) {
      w->AppKeyBox()->setText("k2");
      w->AppSecretBox()->setText("s2");
      Button(w, "超级按钮1")->click();
    });
    QCOMPARE(ReadAppKey(dir.Data(), "卖家甲"), std::string("k2"));
    QCOMPARE(dir.session.AppKey, std::string("oldkey"));
    QCOMPARE(dir.session.AppSecret, std::string("oldsecret"));
  }

  void anEmptyBoxWritesNothing() {
    ProgramDir dir(kConfig);
    UseSeller(dir, "卖家乙");
    const std::string before = ReadFileBytes(dir.File("Config.ini"));
    BoxAnswerer boxes;
    QWidget owner;
    WithSettings(dir, &owner, [&](SettingsWindow* w) {
      w->AppKeyBox()->setText("onlykey");
      w->AppSecretBox()->clear();
      Button(w, "超级按钮1")->click();
      w->AppKeyBox()->clear();
      w->AppSecretBox()->setText("onlysecret");
      Button(w, "超级按钮1")->click();
    });
    QCOMPARE(ReadFileBytes(dir.File("Config.ini")), before);
    QVERIFY(boxes.boxes.empty());

    // Without any Config.ini, nothing is created either.
    std::filesystem::remove(dir.File("Config.ini"));
    WithSettings(dir, &owner, [&](SettingsWindow* w) {
      w->AppKeyBox()->setText("k");
      Button(w, "超级按钮1")->click();
    });
    QVERIFY(!std::filesystem::exists(dir.File("Config.ini")));
  }

  void savingCreatesFileAndKeysWhenMissing() {
    ProgramDir dir;
    UseSeller(dir, "新卖家");
    QWidget owner;
    WithSettings(dir, &owner, [&](SettingsWindow* w) {
      w->AppKeyBox()->setText("12345678");
      w->AppSecretBox()->setText("abc def");
      Button(w, "超级按钮1")->click();
    });
    const std::string bytes = ReadFileBytes(dir.File("Config.ini"));
    QVERIFY(bytes.find(Utf8ToGbk("[新卖家]")) != std::string::npos);
    QCOMPARE(ReadAppKey(dir.Data(), "新卖家"), std::string("12345678"));
    QCOMPARE(ReadAppSecret(dir.Data(), "新卖家"), std::string("abc def"));
  }

  void anUnstorableValueIsRefusedWithAMessageAndWritesNeitherKey() {
    ProgramDir dir(kConfig);
    UseSeller(dir, "卖家甲");
    const std::string before = ReadFileBytes(dir.File("Config.ini"));
    BoxAnswerer boxes;
    QWidget owner;
    WithSettings(dir, &owner, [&](SettingsWindow* w) {
      w->AppKeyBox()->setText("fine");
      w->AppSecretBox()->setText("emoji 😀");
      Button(w, "超级按钮1")->click();
      QCOMPARE(w->AppSecretBox()->text(), QString("emoji 😀"));
    });
    QCOMPARE(ReadFileBytes(dir.File("Config.ini")), before);
    QCOMPARE(boxes.boxes.size(), size_t(1));
    QCOMPARE(boxes.boxes[0].title, QString("系统设置"));
  }

  void closeButtonSavesNothing() {
    ProgramDir dir(kConfig);
    UseSeller(dir, "卖家甲");
    const std::string before = ReadFileBytes(dir.File("Config.ini"));
    QWidget owner;
    const bool open = WithSettings(dir, &owner, [&](SettingsWindow* w) {
      w->AppKeyBox()->setText("typed");
      w->AppSecretBox()->setText("typed");
      w->OrderBox()->setText("9001");
      w->CommentBox()->setPlainText("typed");
      Button(w, "超级按钮2")->click();
    });
    QVERIFY(!open);
    QCOMPARE(ReadFileBytes(dir.File("Config.ini")), before);
    QVERIFY(!std::filesystem::exists(dir.File(kManualCommentFile)));
  }

  void addOrderStoresAndReplacesTheComment() {
    ProgramDir dir(kConfig);
    UseSeller(dir, "卖家甲");
    QWidget owner;
    const bool open = WithSettings(dir, &owner, [&](SettingsWindow* w) {
      w->OrderBox()->setText("5551");
      w->CommentBox()->setPlainText("亲，有话好好说");
      Button(w, "超级按钮3")->click();
      QCOMPARE(w->OrderBox()->text(), QString());
      QCOMPARE(w->CommentBox()->toPlainText(), QString());
      QCOMPARE(ReadManualComment(dir.Data(), "5551"), std::string("亲，有话好好说"));

      // A stored order shows its comment when its number is entered; an
      // order number of 16 digits fits the box.
      w->OrderBox()->setText("5551");
      emit w->OrderBox()->editingFinished();
      QCOMPARE(w->CommentBox()->toPlainText(), QString("亲，有话好好说"));
      QVERIFY(w->OrderBox()->fontMetrics().horizontalAdvance("4000123456789012") <
              w->OrderBox()->contentsRect().width() - 4);
      w->CommentBox()->setPlainText("换一条评价");
      Button(w, "超级按钮3")->click();
    });
    QVERIFY(open);
    QCOMPARE(ReadManualComment(dir.Data(), "5551"), std::string("换一条评价"));
    QCOMPARE(ReadManualComment(dir.Data(), "5552"), std::string(kDefaultManualComment));
    const std::string bytes = ReadFileBytes(dir.File(kManualCommentFile));
    QVERIFY(bytes.find(Utf8ToGbk("换一条评价")) != std::string::npos);
    QVERIFY(bytes.find(Utf8ToGbk("有话好好说")) == std::string::npos);
  }

  void addOrderWithAnEmptyBoxStoresNothing() {
    ProgramDir dir(kConfig);
    UseSeller(dir, "卖家甲");
    BoxAnswerer boxes;
    QWidget owner;
    WithSettings(dir, &owner, [&](SettingsWindow* w) {
      w->OrderBox()->setText("6001");
      Button(w, "超级按钮3")->click();
      QCOMPARE(w->OrderBox()->text(), QString("6001"));
      w->OrderBox()->clear();
      w->CommentBox()->setPlainText("no order");
      Button(w, "超级按钮3")->click();
      QCOMPARE(w->CommentBox()->toPlainText(), QString("no order"));
    });
    QVERIFY(!std::filesystem::exists(dir.File(kManualCommentFile)));
    QVERIFY(boxes.boxes.empty());
  }

  void aCommentWithALineBreakIsRefusedAndKept() {
    ProgramDir dir(kConfig);
    UseSeller(dir, "卖家甲");
    BoxAnswerer boxes;
    QWidget owner;
    WithSettings(dir, &owner, [&](SettingsWindow* w) {
      w->OrderBox()->setText("7001");
      w->CommentBox()->setPlainText("第一行\n[7002]\n评价内容=injected");
      Button(w, "超级按钮3")->click();
      QCOMPARE(w->OrderBox()->text(), QString("7001"));
      QCOMPARE(w->CommentBox()->toPlainText(), QString("第一行\n[7002]\n评价内容=injected"));
    });
    QVERIFY(!std::filesystem::exists(dir.File(kManualCommentFile)));
    QCOMPARE(ReadManualComment(dir.Data(), "7002"), std::string(kDefaultManualComment));
    QCOMPARE(boxes.boxes.size(), size_t(1));
    QVERIFY(boxes.boxes[0].text.contains("请不要换行"));
  }
};

QTEST_MAIN(SettingsWindowTest)
#include "settings_window_test.moc"
