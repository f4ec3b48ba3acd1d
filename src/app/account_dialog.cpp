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
#include "util/text_codec.h"

namespace qm {
namespace {

// A name as the messages show it: a section written by hand may be of any length.
std::string ShownName(const std::string& nick) {
  constexpr qsizetype kShown = 40;
  const QString name = Q(nick);
  if (name.size() <= kShown) return nick;
  const qsizetype cut = name.at(kShown - 1).isHighSurrogate() ? kShown - 1 : kShown;
  return S(name.left(cut)) + "…";
}

}  // namespace

AccountDialog::AccountDialog(AppSession& session, ProgramEnd end, QWidget* owner)
    : QDialog(owner), session_(session), end_(std::move(end)) {
  BuildWindow(this, AccountDialogLayout());
  setModal(true);
  box_ = Control<QComboBox>(this, "组合框1");
  login_ = Control<QPushButton>(this, "超级按钮2");
  close_ = Control<QPushButton>(this, "超级按钮1");
  add_ = Control<QPushButton>(this, "超级按钮3");
  remove_ = Control<QPushButton>(this, "超级按钮4");
  FillAccounts(true);

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
  remove_->setAutoDefault(false);
  connect(remove_, &QPushButton::clicked, this, &AccountDialog::RemoveChosenAccount);
  connect(box_, &QComboBox::editTextChanged, this, [this] { remove_->setEnabled(!ListedAccount().empty()); });
  remove_->setEnabled(!ListedAccount().empty());
  connect(close_, &QPushButton::clicked, this, [this] {
    end_(0);
    reject();
  });
}

void AccountDialog::FillAccounts(bool chooseLast) {
  box_->clear();
  int position = 0;
  for (const std::string& name : AccountNames(session_.programDir)) box_->insertItem(position++, Q(name));
  box_->setCurrentIndex(-1);
  box_->setEditText(QString());
  // A first start has no accounts to offer: the box says what to do.
  box_->lineEdit()->setPlaceholderText(position == 0 ? "首次使用请点“添加帐号”" : "选择或输入卖家帐号");
  SetAccountColour(kAccountIdleColour);
  if (!chooseLast) return;
  const std::string lastUsed = LastUsedAccount(session_.programDir);
  const int last = lastUsed.empty() ? -1 : box_->findText(Q(lastUsed), Qt::MatchFixedString | Qt::MatchCaseSensitive);
  if (last < 0) return;
  box_->setCurrentIndex(last);
  // Typing replaces it; Enter logs in with it.
  box_->lineEdit()->selectAll();
  SetAccountColour(kAccountChosenColour);
}

std::string AccountDialog::ListedAccount() const {
  const std::string typed = AsciiLower(S(box_->currentText().trimmed()));
  if (typed.empty()) return {};
  for (int i = 0; i < box_->count(); ++i) {
    std::string name = S(box_->itemText(i));
    if (AsciiLower(name) == typed) return name;
  }
  return {};
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
  AccountSetupDialog setup(this, session_.programDir, S(box_->currentText().trimmed()), false);
  if (setup.exec() != QDialog::Accepted) return;
  const QString name = Q(setup.SavedAccount());
  if (box_->findText(name, Qt::MatchFixedString) < 0) box_->addItem(name);
  box_->setEditText(name);
  SetAccountColour(kAccountChosenColour);
  OnLogin();
}

bool AccountDialog::SetUpAccount(const std::string& nick) {
  // The message names the account, so that a mistyped name shows itself.
  const bool listed = !ListedAccount().empty();
  QtPrompts().Warn(kNotSetUpTitle,
                   (listed ? std::string(kEmptyKeyText) + "\n请在下一个窗口中填写帐号“" + ShownName(nick) + "”的AppKey和AppSecret。"
                           : "帐号“" + ShownName(nick) + "”还没有设置。\n请在下一个窗口中填写它的AppKey和AppSecret。") +
                       "\n帐号名称输错了？关闭那个窗口即可回到帐号选择。");
  AccountSetupDialog setup(this, session_.programDir, nick, true);
  if (setup.exec() != QDialog::Accepted) {
    box_->setFocus(Qt::OtherFocusReason);
    box_->lineEdit()->selectAll();
    return false;
  }
  const QString name = Q(setup.SavedAccount());
  if (box_->findText(name, Qt::MatchFixedString) < 0) box_->addItem(name);
  box_->setEditText(name);
  return true;
}

void AccountDialog::RemoveChosenAccount() {
  const std::string nick = ListedAccount();
  if (nick.empty()) return;
  QtPrompts prompts;
  if (!prompts.Ask(kRemoveAccountTitle,
                   "确定要删除帐号“" + ShownName(nick) +
                       "”吗？\n\n它在Config.ini中的设置（AppKey、AppSecret和Session授权等）将被删除；"
                       "它的订单数据库、自动评价内容和评价记录等文件仍保留在程序目录中。")) {
    return;
  }
  const AccountRemoval removal = RemoveAccount(session_.programDir, nick);
  switch (removal.outcome) {
    case RemovalOutcome::Removed:
      FillAccounts(false);
      box_->setFocus(Qt::OtherFocusReason);
      return;
    case RemovalOutcome::InUse:
      prompts.Warn(kRemoveAccountTitle, "帐号“" + ShownName(nick) +
                                            "”正在运行（另一个评价程序的窗口，或在后台运行的quillmere-headless），"
                                            "不能删除。\n请先退出它，再删除帐号。");
      return;
    case RemovalOutcome::Failed:
      prompts.Warn(kRemoveAccountTitle, "帐号“" + ShownName(nick) + "”没有删除：" + removal.reason);
      return;
  }
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
  std::string nick = S(box_->currentText());
  if (nick.empty()) return;
  // A name that is not set up gets its setup first, before its files or its
  // lock are made: closing the form comes back here and leaves nothing.
  std::string section;
  const StartupStep check = CheckAccount(session_.programDir, nick, &section);
  if (check.outcome == StartupOutcome::NoCredentials) {
    if (!SetUpAccount(section)) return;
    nick = S(box_->currentText());
  } else if (!check.Ready()) {
    Refuse(check);
    return;
  }
  const StartupStep step = OpenAccount(session_, nick);
  if (!step.Ready()) {
    Refuse(step);
    return;
  }
  MarkAccountUsed(session_.programDir, session_.sellerNick);
  accept();
}

void AccountDialog::Refuse(const StartupStep& step) {
  switch (step.outcome) {
    case StartupOutcome::Ready:
      return;
    case StartupOutcome::BadAccountName:
      QtPrompts().Warn(kBadAccountTitle, step.reason + "\n请重新选择或输入卖家帐号。");
      box_->setFocus(Qt::OtherFocusReason);
      return;
    case StartupOutcome::SettingsRefused:
      QtPrompts().Warn(kBadSettingsTitle, step.reason + "\n程序将退出。");
      end_(0);
      reject();
      return;
    case StartupOutcome::FilesUnusable:
      // Not another run: the seller's files themselves cannot be used.
      QtPrompts().Warn(kFilesUnusableTitle, "卖家‘" + ShownName(session_.sellerNick) + "’的文件无法使用：" + step.reason +
                                                "\n请检查程序目录的权限后再启动。程序将退出。");
      end_(0);
      reject();
      return;
    default:
      // The run lock is held by another run of the program for this
      // seller: that run shows its window, and this one ends. A run without
      // a window (the runner) cannot show one, so this one says why it ends.
      const QString name = InstanceSocketName(session_.programDir, session_.sellerNick);
      switch (InstanceChannel::AskToShow(name)) {
        case ChannelOutcome::Done: break;
        case ChannelOutcome::OtherUser: {
          const std::string text = InstanceChannel::OtherUserText(name);
          std::fprintf(stderr, "quillmere: %s\n", text.c_str());
          QtPrompts().Warn(kAlreadyRunningTitle, "卖家‘" + ShownName(session_.sellerNick) + "’的评价程序已经在运行。\n" +
                                                     text + "\n程序将退出。");
          break;
        }
        case ChannelOutcome::NoAnswer:
          QtPrompts().Warn(kAlreadyRunningTitle, "卖家‘" + ShownName(session_.sellerNick) +
                                                     "’的评价程序已经在运行（例如在后台运行的quillmere-headless）。\n程序将退出。");
          break;
      }
      end_(0);
      reject();
      return;
  }
}

}  // namespace qm
