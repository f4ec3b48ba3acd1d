#include "app/account_setup.h"

#include <QLineEdit>
#include <QPushButton>

#include <utility>

#include "app/builder.h"
#include "app/layout.h"
#include "app/qt_ports.h"
#include "rating/startup.h"
#include "settings/config.h"
#include "settings/profile_document.h"
#include "util/text_codec.h"

namespace qm {
namespace {

WindowLayout MakeAccountSetup() {
  WindowLayout w;
  w.name = "AccountSetupDialog";
  w.title = kAccountSetupTitle;
  w.width = 256;
  w.height = 300;
  auto& v = w.controls;
  ControlLayout title = MakeControl("标签5", ControlKind::Label, "   设置卖家帐号", 32, 0, 180, 40);
  title.dragsWindow = true;
  title.font = FontFace::YaHei;
  title.fontPoints = 11;
  title.bold = true;
  v.push_back(title);
  ControlLayout icon = MakeControl("图片框1", ControlKind::Picture, "", 3, 4, 32, 32);
  icon.picture = PictureContent::ProgramIcon;
  v.push_back(icon);
  ControlLayout close = MakeControl("超级按钮2", ControlKind::FlatButton, "×", 216, 11, 32, 18);
  close.handCursor = true;
  v.push_back(close);
  v.push_back(MakeControl("外形框1", ControlKind::Frame, "", 8, 48, 240, 184));
  ControlLayout heading = MakeControl("标签4", ControlKind::Label, "淘宝API基本设置", 66, 12, 108, 16, "外形框1");
  heading.font = FontFace::YaHei;
  heading.bold = true;
  v.push_back(heading);
  v.push_back(MakeControl("标签1", ControlKind::Label, "AppKey", 24, 39, 48, 24, "外形框1"));
  v.push_back(MakeControl("AppKey编辑框", ControlKind::Edit, "", 72, 39, 152, 24, "外形框1"));
  v.push_back(MakeControl("标签2", ControlKind::Label, "AppSecret", 8, 71, 64, 24, "外形框1"));
  v.push_back(MakeControl("AppSecret编辑框", ControlKind::Edit, "", 72, 71, 152, 24, "外形框1"));
  v.push_back(MakeControl("标签6", ControlKind::Label, "卖家旺旺ID", 8, 113, 64, 24, "外形框1"));
  v.push_back(MakeControl("旺旺ID编辑框1", ControlKind::Edit, "", 72, 113, 152, 24, "外形框1"));
  ControlLayout save = MakeControl("超级按钮1", ControlKind::FlatButton, "保存并登录", 70, 146, 100, 26, "外形框1");
  save.handCursor = true;
  v.push_back(save);
  v.push_back(MakeControl("标签3", ControlKind::Label,
                "AppKey和AppSecret在淘宝开放平台（open.taobao.com）的“应用管理”中，您的应用页上可以看到。",
                8, 238, 240, 56));
  return w;
}

std::string Trimmed(const QLineEdit* box) { return S(box->text().trimmed()); }

}  // namespace

const WindowLayout& AccountSetupLayout() {
  static const WindowLayout w = MakeAccountSetup();
  return w;
}

AccountSetupDialog::AccountSetupDialog(QWidget* owner, const std::string& nick, bool nickFixed) : QDialog(owner) {
  BuildWindow(this, AccountSetupLayout());
  setModal(true);
  appKey_ = Control<QLineEdit>(this, "AppKey编辑框");
  appSecret_ = Control<QLineEdit>(this, "AppSecret编辑框");
  seller_ = Control<QLineEdit>(this, "旺旺ID编辑框1");
  save_ = Control<QPushButton>(this, "超级按钮1");
  seller_->setText(Q(nick));
  seller_->setReadOnly(nickFixed);
  seller_->setPlaceholderText("卖家的旺旺ID");
  appKey_->setPlaceholderText("应用的App Key");
  appSecret_->setPlaceholderText("应用的App Secret");
  MaskSecret(appSecret_);
  if (!nick.empty()) {
    appKey_->setText(Q(ReadAppKey(nick)));
    appSecret_->setText(Q(ReadAppSecret(nick)));
  }
  for (QPushButton* button : findChildren<QPushButton*>()) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
  connect(save_, &QPushButton::clicked, this, &AccountSetupDialog::Save);
  for (QLineEdit* box : {seller_, appKey_, appSecret_}) connect(box, &QLineEdit::returnPressed, this, &AccountSetupDialog::Save);
  // "×", like Esc, closes the form without writing; whoever opened it goes back a step.
  connect(Control<QPushButton>(this, "超级按钮2"), &QPushButton::clicked, this, &QDialog::reject);
}

void AccountSetupDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // The key comes first whatever the form was opened for.
  appKey_->setFocus(Qt::OtherFocusReason);
}

void AccountSetupDialog::Save() {
  const std::string nick = Trimmed(seller_);
  const std::string key = Trimmed(appKey_);
  const std::string secret = Trimmed(appSecret_);
  QtPrompts prompts;
  if (std::string problem = AccountNameProblem(nick); !problem.empty()) {
    prompts.Warn(kAccountSetupTitle, problem);
    seller_->setFocus(Qt::OtherFocusReason);
    return;
  }
  if (key.empty() || secret.empty()) {
    prompts.Warn(kAccountSetupTitle, "请填写AppKey和AppSecret。");
    (key.empty() ? appKey_ : appSecret_)->setFocus(Qt::OtherFocusReason);
    return;
  }
  for (const std::string* value : {&key, &secret}) {
    if (!IsStorableProfileValue(*value) || !GbkCanHold(*value)) {
      prompts.Warn(kAccountSetupTitle, "AppKey或AppSecret含有无法保存的字符，没有保存。");
      return;
    }
  }
  // "nick" and "NICK" are one section: the one already in the file keeps its spelling.
  const std::string section = AccountSectionName(nick);
  if (!WriteAppKey(section, key) || !WriteAppSecret(section, secret)) {
    prompts.Warn(kAccountSetupTitle, "无法写入“" + ConfigPath() + "”，没有保存。");
    return;
  }
  saved_ = section;
  accept();
}

}  // namespace qm
