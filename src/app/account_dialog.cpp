#include "app/account_dialog.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QLineEdit>
#include <QPushButton>

#include "app/builder.h"
#include "app/qt_ports.h"
#include "app/shutdown.h"
#include "rating/comments.h"
#include "settings/app_session.h"
#include "settings/config.h"
#include "util/text_codec.h"

namespace qm {

std::string AccountNameProblem(const std::string& nick) {
  if (nick.find('/') != std::string::npos || nick.find('\\') != std::string::npos) {
    return "帐号名称不能包含路径分隔符（“/”或“\\”）。";
  }
  if (nick.find("..") != std::string::npos) return "帐号名称不能包含“..”。";
  for (unsigned char ch : nick) {
    if (ch < 0x20 || ch == 0x7F) return "帐号名称不能包含控制字符（如换行或制表符）。";
  }
  const std::u16string wide = Utf8ToUtf16(nick);
  for (char16_t ch : wide) {
    if (ch >= 0x80 && ch <= 0x9F) return "帐号名称不能包含控制字符（如换行或制表符）。";
    if (std::u16string_view(u"<>:\"|?*").find(ch) != std::u16string_view::npos) {
      return "帐号名称不能包含文件名不允许的字符 < > : \" | ? *。";
    }
  }
  if (!IsValidUtf8(nick) || GbkToUtf8(Utf8ToGbk(nick)) != nick) {
    return "帐号名称含有GBK编码无法表示的字符，无法用作文件名。";
  }
  return {};
}

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
  const std::string problem = AccountNameProblem(nick);
  if (!problem.empty()) {
    QtPrompts().Information(kBadAccountTitle, problem + "\n请重新选择或输入卖家帐号。");
    box_->setFocus(Qt::OtherFocusReason);
    return;
  }
  if (!LoadAutoComment(nick)) {
    // Most often another run of the program holds this seller's comment file.
    EndProgram(0);
    reject();
    return;
  }
  AppSession& s = Session();
  s.AppKey = ReadAppKey(nick);
  s.AppSecret = ReadAppSecret(nick);
  s.sellerNick = nick;
  accept();
}

}  // namespace qm
