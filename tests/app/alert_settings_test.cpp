// 提醒设置 in the running program against the marketplace and a local
// receiver: the alert of a buyer's bad rating goes out while the program
// runs, the window never shows a stored secret, 测试提醒 says what each
// place answered, and saved settings reach the running program at once.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <nlohmann/json.hpp>

#include "alerts/alert_outbox.h"
#include "app/alert_settings_window.h"
#include "app/builder.h"
#include "app/main_window.h"
#include "app/run_settings_window.h"
#include "app/settings_window.h"
#include "app_test_support.h"
#include "rating/seller_run.h"
#include "receivers.h"
#include "settings/config.h"
#include "support/sandbox_process.h"

using namespace qm;
using namespace qm::test;
using nlohmann::json;

namespace {

// 更多设置's 发到手机和群…, as the seller opens it; `act` runs with it open.
void WithAlertSettings(MainWindow& main, const std::function<void(AlertSettingsWindow*)>& act) {
  WithRunSettings(main, [&act](RunSettingsWindow* more) {
    QTimer::singleShot(0, more, [&act] {
      auto* alerts = qobject_cast<AlertSettingsWindow*>(QApplication::activeModalWidget());
      QVERIFY(alerts != nullptr);
      act(alerts);
      if (alerts->isVisible()) alerts->reject();
    });
    Control<QPushButton>(more, "提醒设置按钮")->click();
  });
}

}  // namespace

class AlertSettingsTest : public QObject {
  Q_OBJECT

 private slots:
  void alertsGoOutWhileTheProgramRunsAndTheWindowSteersThem() {
    Sandbox sandbox;
    QVERIFY(sandbox.Ok());
    RobotReceiver robots;
    const json added = json::parse(sandbox.AdminPost(
        "trades", json{{"trades", json::array({json{{"ended_hours_ago", 50},
                                                    {"buyer_rate", "bad"},
                                                    {"buyer_comment", "<b>差</b>\nhttp://a.cn"}}})}}.dump()));
    const std::string first = added.at("tids")[0];
    ProgramDir dir;
    QVERIFY(sandbox.WriteConfig(dir.File("Config.ini")));
    const std::string nick = sandbox.Seller().nick;
    QVERIFY(WriteSetting(dir.Data(), nick, kKeyWebhookUrl, robots.Base() + "/hook"));
    QVERIFY(WriteSetting(dir.Data(), nick, kKeyDingTalkSecret, "SEC-stored"));
    QVERIFY(WriteSetting(dir.Data(), nick, kKeyMailPassword, "mail-stored"));
    dir.session.endpoints = Endpoints::AtBase(sandbox.BaseUrl());
    EndRecorder ends;
    {
      MainWindow w(dir.session, ends.End());
      w.show();
      ChooseAccountWhenAsked(QString::fromStdString(nick));
      QVERIFY(RunStartupToEnd(w));

      // The buyer's bad rating found by the first load goes to the webhook.
      QTRY_COMPARE_WITH_TIMEOUT(robots.Arrivals("/hook").size(), size_t(1), 20000);
      const json alert = json::parse(robots.Arrivals("/hook")[0].body);
      QCOMPARE(alert.at("order").get<std::string>(), first);
      QCOMPARE(alert.at("comment").get<std::string>(), std::string("<b>差</b>\nhttp://a.cn"));

      WithAlertSettings(w, [&](AlertSettingsWindow* a) {
        QCOMPARE(a->WebhookBox()->text(), QString::fromStdString(robots.Base() + "/hook"));
        // Stored secrets are never put into a box.
        for (QLineEdit* secret : {a->DingTalkSecretBox(), a->MailPasswordBox()}) {
          QVERIFY(secret->text().isEmpty());
          QCOMPARE(secret->echoMode(), QLineEdit::Password);
          QVERIFY(secret->placeholderText().contains("已设置"));
        }
        // 测试提醒 with what the window holds, unsaved: one place answers, one cannot be reached.
        a->WeComBox()->setText(QString("http://127.0.0.1:%1/cgi-bin/webhook/send?key=k").arg(ClosedPort()));
        a->TestButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(a->TestButton()->isEnabled(), 20000);
        QCOMPARE(a->TestResult()->text(), QString("企业微信：未送达（无法连接）\n网址：已送达"));
        QCOMPARE(a->TestResult()->textFormat(), Qt::PlainText);
        QCOMPARE(json::parse(robots.Arrivals("/hook").back().body).at("kind").get<std::string>(), std::string("test"));
        QCOMPARE(ReadSetting(dir.Data(), dir.session.sellerNick, kKeyWeComUrl), std::string());

        // A mail address that is not one is refused before anything is written.
        {
          BoxAnswerer boxes;
          a->MailServerBox()->setText("127.0.0.1:2525");
          a->MailToBox()->setText("boss@example.com, <evil>");
          QVERIFY(!a->Save());
          QCOMPARE(boxes.boxes.size(), size_t(1));
          QVERIFY2(boxes.boxes[0].text.contains("<evil>"), qPrintable(boxes.boxes[0].text));
        }
        QCOMPARE(ReadSetting(dir.Data(), dir.session.sellerNick, kKeyMailServer), std::string());
        a->MailServerBox()->clear();
        a->MailToBox()->clear();
        // The robot's address saved; its secret kept as stored; the mail password cleared.
        a->WeComBox()->setText(QString::fromStdString(robots.Base() + "/cgi-bin/webhook/send?key=k"));
        Control<QPushButton>(a, "邮件密码清除按钮")->click();
        a->SummaryHourBox()->setCurrentIndex(a->SummaryHourBox()->findData(21));
        Control<QPushButton>(a, "保存按钮")->click();
        QVERIFY(!a->isVisible());
      });
      QCOMPARE(ReadSetting(dir.Data(), nick, kKeyWeComUrl), robots.Base() + "/cgi-bin/webhook/send?key=k");
      QCOMPARE(ReadSetting(dir.Data(), nick, kKeyDingTalkSecret), std::string("SEC-stored"));
      QCOMPARE(ReadSetting(dir.Data(), nick, kKeyMailPassword), std::string());
      QCOMPARE(ReadSetting(dir.Data(), nick, kKeySummaryHour), std::string("21"));
      QCOMPARE(w.Outbox()->Settings().weComUrl, robots.Base() + "/cgi-bin/webhook/send?key=k");

      // The next bad rating goes to both places at once.
      const json more = json::parse(sandbox.AdminPost(
          "trades", json{{"trades", json::array({json{{"ended_hours_ago", 60}}})}}.dump()));
      const std::string second = more.at("tids")[0];
      QVERIFY(!sandbox.AdminPost("buyer-rate", json{{"tid", second}, {"result", "neutral"}, {"content", "一般"}}.dump())
                   .empty());
      w.Run()->refresh_cycle();
      QTRY_COMPARE_WITH_TIMEOUT(robots.Arrivals("/cgi-bin/webhook/send").size(), size_t(1), 20000);
      QTRY_COMPARE_WITH_TIMEOUT(robots.Arrivals("/hook").size(), size_t(3), 20000);
      const std::string content =
          json::parse(robots.Arrivals("/cgi-bin/webhook/send")[0].body).at("text").at("content");
      QVERIFY2(content.find("订单：" + second + "\n") != std::string::npos, content.c_str());
      QVERIFY2(content.find("评价：中评\n") != std::string::npos, content.c_str());
    }
  }
};

QTEST_MAIN(AlertSettingsTest)
#include "alert_settings_test.moc"
