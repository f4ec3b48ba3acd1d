#include "app/account_dialog.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <utility>

#include "app/account_setup.h"
#include "app/builder.h"
#include "app/instance_channel.h"
#include "app/qt_ports.h"
#include "app/shutdown.h"
#include "rating/startup.h"
#include "settings/app_session.h"
#include "settings/config.h"

namespace qm {

AccountDialog::AccountDialog(QWidget* owner) : QDialog(owner) {
  BuildWindow(this, AccountDialogLayout());
  setModal(true);
  box_ = Control<QComboBox>(this, "组合框1");
  login_ = Control<QPushButton>(this, "超级按钮2");
  close_ = Control<QPushButton>(this, "超级按钮1");
  add_ = Control<QPushButton>(this, "超级按钮3");

  int position = 0;
  for (const std::string& name : AccountNames()) box_->insertItem(position++, Q(name));
  box_->setCurrentIndex(-1);
  box_->setEditText(QString());
  // A first start has no accounts to offer: the box says what to do.
  box_->lineEdit()->setPlaceholderText(position == 0 ? "首次使用请点“添加帐号”" : "选择或输入卖家帐号");
  SetAccountColour(kAccountIdleColour);

  // The drop-down list closing (after a choice or without one).
  box_->view()->window()->installEventFilter(this);
  login_->installEventFilter(this);
  // Enter in the account box is the same as "登  录"; a plain QDialog would
  // otherwise press its default button.
  login_->setAutoDefault(false);
  login_->setDefault(false);
  connect(box_->lineEdit(), &QLineEdit::returnPressed, this, &AccountDialog::OnLogin);
  connect(login_, &QPushButton::clicked, this, &AccountDialog::OnLogin);
  add_->setAutoDefault(false);
  connect(add_, &QPushButton::clicked, this, &AccountDialog::AddAccount);
  connect(close_, &QPushButton::clicked, this, [this] {
    EndProgram(0);
    reject();
  });
}

QColor AccountDialog::AccountColour() const { return box_->palette().color(QPalette::Text); }

void AccountDialog::SetAccountColour(const QColor& colour) {
  for (QWidget* w : {static_cast<QWidget*>(box_), static_cast<QWidget*>(box_->lineEdit())}) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::Text, colour);
    pal.setColor(QPalette::ButtonText, colour);
    w->setPalette(pal);
  }
}

bool AccountDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == box_->view()->window() && event->type() == QEvent::Hide) {
    SetAccountColour(kAccountChosenColour);
    login_->setFocus(Qt::OtherFocusReason);
  } else if (watched == login_ && event->type() == QEvent::FocusIn) {
    if (box_->currentText().isEmpty()) SetAccountColour(kAccountIdleColour);
  }
  return QDialog::eventFilter(watched, event);
}

void AccountDialog::AddAccount() {
  AccountSetupDialog setup(this, S(box_->currentText().trimmed()), false);
  if (setup.exec() != QDialog::Accepted) return;
  const QString name = Q(setup.SavedAccount());
  if (box_->findText(name, Qt::MatchFixedString) < 0) box_->addItem(name);
  box_->setEditText(name);
  SetAccountColour(kAccountChosenColour);
  OnLogin();
}

void AccountDialog::ChooseOnShow(const std::string& account) { chosen_ = account; }

void AccountDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (chosen_.empty()) return;
  const std::string account = std::exchange(chosen_, std::string());
  QTimer::singleShot(0, this, [this, account] {
    box_->setEditText(Q(account));
    login_->click();
  });
}

void AccountDialog::OnLogin() {
  const std::string nick = S(box_->currentText());
  if (nick.empty()) return;
  const StartupStep step = OpenAccount(nick);
  switch (step.outcome) {
    case StartupOutcome::Ready:
      accept();
      return;
    case StartupOutcome::BadAccountName:
      QtPrompts().Warn(kBadAccountTitle, step.reason + "\n请重新选择或输入卖家帐号。");
      box_->setFocus(Qt::OtherFocusReason);
      return;
    case StartupOutcome::SettingsRefused:
      QtPrompts().Warn(kBadSettingsTitle, step.reason + "\n程序将退出。");
      EndProgram(0);
      reject();
      return;
    case StartupOutcome::FilesUnusable:
      // Not another run: the seller's files themselves cannot be used.
      QtPrompts().Warn(kFilesUnusableTitle, "卖家‘" + Session().sellerNick + "’的文件无法使用：" + step.reason +
                                                "\n请检查程序目录的权限后再启动。程序将退出。");
      EndProgram(0);
      reject();
      return;
    default:
      // The run lock is held by another run of the program for this
      // seller: that run shows its window, and this one ends. A run without
      // a window (the runner) cannot show one, so this one says why it ends.
      if (!InstanceChannel::AskToShow(InstanceSocketName(Session().programDir, Session().sellerNick))) {
        QtPrompts().Warn(kAlreadyRunningTitle, "卖家‘" + Session().sellerNick +
                                                   "’的评价程序已经在运行（例如在后台运行的quillmere-headless）。\n程序将退出。");
      }
      EndProgram(0);
      reject();
      return;
  }
}

}  // namespace qm
