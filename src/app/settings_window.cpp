#include "app/settings_window.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "app/autostart.h"
#include "app/builder.h"
#include "app/qt_ports.h"
#include "app/run_settings_window.h"
#include "rating/comments.h"
#include "settings/app_session.h"
#include "settings/config.h"
#include "settings/profile_document.h"
#include "util/text_codec.h"

namespace qm {
namespace {

// True when the settings files (GBK, one value per line) can hold `text` as it is.
bool Storable(const std::string& text) {
  return IsStorableProfileValue(text) && GbkCanHold(text);
}

bool HasLineBreak(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

}  // namespace

SettingsWindow::SettingsWindow(AppSession& session, SellerRun* run, AlertOutbox* outbox, QWidget* owner)
    : QDialog(owner), session_(session), run_(run), outbox_(outbox) {
  BuildWindow(this, SettingsWindowLayout());
  setModal(true);
  appKey_ = Control<QLineEdit>(this, "AppKey编辑框");
  appSecret_ = Control<QLineEdit>(this, "AppSecret编辑框");
  seller_ = Control<QLineEdit>(this, "旺旺ID编辑框1");
  order_ = Control<QLineEdit>(this, "订单ID编辑框");
  comment_ = Control<QPlainTextEdit>(this, "评价内容编辑框");

  const std::string& nick = session_.sellerNick;
  appKey_->setText(Q(ReadAppKey(session_.programDir, nick)));
  appSecret_->setText(Q(ReadAppSecret(session_.programDir, nick)));
  MaskSecret(appSecret_);
  seller_->setText(Q(nick));
  AddAutostartBox(Control<QWidget>(this, "外形框1"), session_);
  // Everything else the seller sets lives one click away, beside the close button.
  more_ = new QPushButton("更多设置…", this);
  more_->setObjectName("更多设置按钮");
  more_->setToolTip("自动评价内容、评价时间、重新读取间隔、差评提醒、回评方式、不自动评价的订单和买家");
  more_->setGeometry(560, 10, 88, 20);
  connect(more_, &QPushButton::clicked, this, [this] {
    RunSettingsWindow window(session_, run_, outbox_, this);
    window.exec();
  });

  // Enter in an edit box presses no button: a plain dialog would press its
  // first button, which here may be "×".
  for (QPushButton* button : findChildren<QPushButton*>()) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
  // An order that has a comment already shows it, to be changed rather than typed again.
  connect(order_, &QLineEdit::editingFinished, this, [this] {
    const std::optional<std::string> stored = StoredManualComment(session_.programDir, S(order_->text().trimmed()));
    if (stored && comment_->toPlainText().isEmpty()) comment_->setPlainText(Q(*stored));
  });
  connect(Control<QPushButton>(this, "超级按钮1"), &QPushButton::clicked, this, &SettingsWindow::SaveApiSettings);
  connect(Control<QPushButton>(this, "超级按钮3"), &QPushButton::clicked, this, &SettingsWindow::AddOrder);
  connect(Control<QPushButton>(this, "超级按钮2"), &QPushButton::clicked, this, &QDialog::reject);
  appKey_->setFocus(Qt::OtherFocusReason);
}

void SettingsWindow::SaveApiSettings() {
  const std::string key = S(appKey_->text());
  const std::string secret = S(appSecret_->text());
  if (key.empty() || secret.empty()) return;
  // The section is always the running seller's; 旺旺ID编辑框1 only shows it.
  const std::string& nick = session_.sellerNick;
  // Both values are checked before either is written, so the file never
  // pairs a new key with the old secret.
  if (!Storable(key) || !Storable(secret)) {
    QtPrompts().Information(kSettingsTitle, "AppKey或AppSecret含有无法保存的字符，没有保存。");
    return;
  }
  if (!WriteAppKey(session_.programDir, nick, key) || !WriteAppSecret(session_.programDir, nick, secret)) {
    QtPrompts().Information(kSettingsTitle, "API信息无法写入Config.ini，没有保存。");
  }
}

void SettingsWindow::AddOrder() {
  const std::string tid = S(order_->text().trimmed());
  const std::string text = S(comment_->toPlainText());
  if (tid.empty() || text.empty()) return;
  if (!AddOrderComment(session_.programDir, tid, text)) {
    // The boxes keep what the user typed, so nothing is lost.
    if (HasLineBreak(text)) {
      QtPrompts().Information(kSettingsTitle, "评价内容请不要换行，没有保存。");
    } else {
      QtPrompts().Information(kSettingsTitle, "订单ID或评价内容含有无法保存的字符，没有保存。");
    }
    return;
  }
  order_->clear();
  comment_->clear();
}

void OpenSettingsWindow(AppSession& session, SellerRun* run, QWidget* owner) {
  SettingsWindow window(session, run, nullptr, owner);
  window.exec();
}

}  // namespace qm
