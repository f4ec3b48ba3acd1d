#pragma once
// "提醒设置": where the alerts of buyers' neutral and bad ratings go besides
// the window (a DingTalk or WeCom group robot, a web address, e-mail) and
// the hour of the daily summary. Opened modally from 更多设置. The robot's
// signing secret and the mail password are never shown: their boxes start
// empty, an empty box keeps what is stored, 清除 removes it. 测试提醒 sends
// a test alert with what the window holds, without saving; 保存 writes
// Config.ini and hands the settings to the running program.
#include <QDialog>
#include <string>

#include "alerts/alert_settings.h"
#include "settings/app_session.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace qm {

class AlertOutbox;

inline constexpr const char* kAlertSettingsTitle = "提醒设置";

class AlertSettingsWindow : public QDialog {
  Q_OBJECT
 public:
  // `outbox`: the running program's, which a save changes at once; may be null.
  // The seller and their Config.ini are the start-up record `session`'s.
  AlertSettingsWindow(const AppSession& session, AlertOutbox* outbox, QWidget* owner = nullptr);

  QLineEdit* DingTalkBox() const { return dingTalk_; }
  QLineEdit* DingTalkSecretBox() const { return dingTalkSecret_; }
  QLineEdit* WeComBox() const { return weCom_; }
  QLineEdit* WebhookBox() const { return webhook_; }
  QLineEdit* MailServerBox() const { return mailServer_; }
  QLineEdit* MailUserBox() const { return mailUser_; }
  QLineEdit* MailPasswordBox() const { return mailPassword_; }
  QLineEdit* MailFromBox() const { return mailFrom_; }
  QLineEdit* MailToBox() const { return mailTo_; }
  QComboBox* SummaryHourBox() const { return summaryHour_; }
  QPushButton* TestButton() const { return test_; }
  // What the last test said, one line per place.
  QLabel* TestResult() const { return result_; }

  // The settings as the window holds them (the stored secrets where a box is empty).
  AlertSettings Entered() const;
  // 保存; false (a box said why) when nothing was saved.
  bool Save();

 private:
  void SendTest();
  // A secret box: empty, saying whether a secret is stored; 清除 forgets it.
  QWidget* SecretRow(QLineEdit* box, const char* name, const std::string& stored, bool* cleared);
  void ShowStored(QLineEdit* box, bool stored);

  AlertSettings stored_;
  bool dingTalkSecretCleared_ = false;
  bool mailPasswordCleared_ = false;
  const AppSession& session_;
  AlertOutbox* outbox_ = nullptr;
  QLineEdit* dingTalk_ = nullptr;
  QLineEdit* dingTalkSecret_ = nullptr;
  QLineEdit* weCom_ = nullptr;
  QLineEdit* webhook_ = nullptr;
  QLineEdit* mailServer_ = nullptr;
  QLineEdit* mailUser_ = nullptr;
  QLineEdit* mailPassword_ = nullptr;
  QLineEdit* mailFrom_ = nullptr;
  QLineEdit* mailTo_ = nullptr;
  QComboBox* summaryHour_ = nullptr;
  QPushButton* test_ = nullptr;
  QLabel* result_ = nullptr;
};

}  // namespace qm
