#include "app/alert_settings_window.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <thread>

#include "alerts/alert_outbox.h"
#include "app/builder.h"
#include "app/qt_ports.h"
#include "platform/platform_link.h"
#include "settings/app_session.h"
#include "settings/config.h"

namespace qm {
namespace {

QLineEdit* NamedBox(QWidget* owner, const char* name, const std::string& text, const char* hint) {
  auto* box = new QLineEdit(owner);
  box->setObjectName(QString::fromUtf8(name));
  box->setText(Q(text));
  box->setPlaceholderText(QString::fromUtf8(hint));
  return box;
}

std::string Typed(const QLineEdit* box) { return S(box->text().trimmed()); }

}  // namespace

AlertSettingsWindow::AlertSettingsWindow(const AppSession& session, AlertOutbox* outbox, QWidget* owner)
    : QDialog(owner), session_(session), outbox_(outbox) {
  setObjectName("AlertSettingsWindow");
  setWindowTitle(Q(kAlertSettingsTitle));
  setModal(true);
  const std::string& nick = session_.sellerNick;
  stored_ = ReadAlertSettings(session_.programDir, nick);

  dingTalk_ = NamedBox(this, "钉钉机器人编辑框", stored_.dingTalkUrl, "https://oapi.dingtalk.com/robot/send?access_token=…");
  dingTalkSecret_ = NamedBox(this, "钉钉加签密钥编辑框", {}, "");
  weCom_ = NamedBox(this, "企业微信机器人编辑框", stored_.weComUrl, "https://qyapi.weixin.qq.com/cgi-bin/webhook/send?key=…");
  webhook_ = NamedBox(this, "提醒网址编辑框", stored_.webhookUrl, "接收 JSON 的网址（见说明）");
  mailServer_ = NamedBox(this, "邮件服务器编辑框", stored_.mailServer, "smtp.qq.com:465");
  mailUser_ = NamedBox(this, "邮件账号编辑框", stored_.mailUser, "登录邮件服务器的账号");
  mailPassword_ = NamedBox(this, "邮件密码编辑框", {}, "");
  mailFrom_ = NamedBox(this, "发件人编辑框", stored_.mailFrom, "不填则用邮件账号");
  mailTo_ = NamedBox(this, "提醒邮箱编辑框", stored_.mailTo, "收提醒的邮箱，多个用逗号分开");
  summaryHour_ = new QComboBox(this);
  summaryHour_->setObjectName("每日汇总框");
  summaryHour_->addItem("不发送", -1);
  for (int hour = 0; hour < 24; ++hour) summaryHour_->addItem(QString("每天 %1:00（北京时间）").arg(hour), hour);
  summaryHour_->setCurrentIndex(summaryHour_->findData(stored_.summaryHour));

  auto* form = new QFormLayout;
  form->addRow("钉钉机器人", dingTalk_);
  form->addRow("钉钉加签密钥", SecretRow(dingTalkSecret_, "钉钉加签密钥", stored_.dingTalkSecret, &dingTalkSecretCleared_));
  form->addRow("企业微信机器人", weCom_);
  form->addRow("提醒网址", webhook_);
  form->addRow("邮件服务器", mailServer_);
  form->addRow("邮件账号", mailUser_);
  form->addRow("邮件密码", SecretRow(mailPassword_, "邮件密码", stored_.mailPassword, &mailPasswordCleared_));
  form->addRow("发件人", mailFrom_);
  form->addRow("提醒邮箱", mailTo_);
  form->addRow("每日汇总", summaryHour_);

  result_ = new QLabel(this);
  result_->setObjectName("测试结果");
  result_->setTextFormat(Qt::PlainText);
  result_->setWordWrap(true);
  auto* buttons = new QDialogButtonBox(this);
  test_ = buttons->addButton("测试提醒", QDialogButtonBox::ActionRole);
  test_->setObjectName("测试提醒按钮");
  test_->setToolTip("用窗口中填写的设置发一条测试提醒（不保存）");
  connect(test_, &QPushButton::clicked, this, &AlertSettingsWindow::SendTest);
  buttons->addButton("保存", QDialogButtonBox::AcceptRole)->setObjectName("保存按钮");
  buttons->addButton("取消", QDialogButtonBox::RejectRole)->setObjectName("取消按钮");
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    if (Save()) accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* note = new QLabel("买家给了中评或差评时，除了本窗口的提醒，还会发到这里填写的地方。", this);
  note->setTextFormat(Qt::PlainText);
  note->setWordWrap(true);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(note);
  layout->addLayout(form);
  layout->addWidget(result_);
  layout->addWidget(buttons);
  resize(600, sizeHint().height());
}

void AlertSettingsWindow::ShowStored(QLineEdit* box, bool stored) {
  box->setPlaceholderText(stored ? "已设置（不显示）；留空则不变" : "未设置");
}

QWidget* AlertSettingsWindow::SecretRow(QLineEdit* box, const char* name, const std::string& stored, bool* cleared) {
  box->setEchoMode(QLineEdit::Password);
  ShowStored(box, !stored.empty());
  auto* row = new QWidget(this);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* clear = new QPushButton("清除", row);
  clear->setObjectName(QString::fromUtf8(name) + "清除按钮");
  clear->setEnabled(!stored.empty());
  connect(clear, &QPushButton::clicked, this, [this, box, clear, cleared] {
    *cleared = true;
    box->clear();
    ShowStored(box, false);
    clear->setEnabled(false);
  });
  layout->addWidget(box, 1);
  layout->addWidget(clear);
  return row;
}

AlertSettings AlertSettingsWindow::Entered() const {
  AlertSettings s;
  s.dingTalkUrl = Typed(dingTalk_);
  s.weComUrl = Typed(weCom_);
  s.webhookUrl = Typed(webhook_);
  s.mailServer = Typed(mailServer_);
  s.mailUser = Typed(mailUser_);
  s.mailFrom = Typed(mailFrom_);
  s.mailTo = Typed(mailTo_);
  s.summaryHour = summaryHour_->currentData().toInt();
  // A secret may hold spaces at its ends; it is taken as typed.
  s.dingTalkSecret = EnteredSecret(S(dingTalkSecret_->text()), dingTalkSecretCleared_, stored_.dingTalkSecret);
  s.mailPassword = EnteredSecret(S(mailPassword_->text()), mailPasswordCleared_, stored_.mailPassword);
  return s;
}

bool AlertSettingsWindow::Save() {
  const AlertSettings s = Entered();
  if (std::string problem; !SaveAlertSettings(session_.programDir, session_.sellerNick, s, outbox_, &problem)) {
    QtPrompts().Information(kAlertSettingsTitle, problem);
    return false;
  }
  stored_ = s;
  return true;
}

void AlertSettingsWindow::SendTest() {
  const AlertSettings s = Entered();
  if (const std::string problem = TestAlertProblem(s); !problem.empty()) {
    result_->setText(Q(problem));
    return;
  }
  test_->setEnabled(false);
  result_->setText("正在发送测试提醒…");
  // Off the UI thread; the answer comes back to the window if it is still open.
  std::thread([s, shop = session_.sellerNick, now = session_.link->Clock().Now(), window = QPointer<AlertSettingsWindow>(this)] {
    const QString text = Q(TestAlertText(SendTestAlerts(s, shop, now)));
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [window, text] {
          if (!window) return;
          window->result_->setText(text);
          window->test_->setEnabled(true);
        },
        Qt::QueuedConnection);
  }).detach();
}

}  // namespace qm
