#include "app/account_dialog.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QLineEdit>
#include <QPushButton>

#include "app/builder.h"
#include "app/qt_ports.h"
#include "app/shutdown.h"
#include "rating/startup.h"
#include "settings/config.h"

namespace qm {

AccountDialog::AccountDialog(QWidget* owner) : QDialog(owner) {
  BuildWindow(this, AccountDialogLayout());
  setModal(true);
  box_ = Control<QComboBox>(this, "组合框1");
  login_ = Control<QPushButton>(this, "超级按钮2");
  close_ = Control<QPushButton>(this, "超级按钮1");

  int position = 0;
  for (const std::string& name : AccountNames()) box_->insertItem(position++, Q(name));
  box_->setCurrentIndex(-1);
  box_->setEditText(QString());
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

void AccountDialog::OnLogin() {
  const std::string nick = S(box_->currentText());
  if (nick.empty()) return;
  const StartupStep step = OpenAccount(nick);
  switch (step.outcome) {
    case StartupOutcome::Ready:
      accept();
      return;
    case StartupOutcome::BadAccountName:
      QtPrompts().Information(kBadAccountTitle, step.reason + "\n请重新选择或输入卖家帐号。");
      box_->setFocus(Qt::OtherFocusReason);
      return;
    case StartupOutcome::SettingsRefused:
      QtPrompts().Information(kBadSettingsTitle, step.reason + "\n程序将退出。");
      EndProgram(0);
      reject();
      return;
    default:
      // The comment file is held by another run of the program for this
      // seller: this one ends without a word.
      EndProgram(0);
      reject();
      return;
  }
}

}  // namespace qm
