#include "app/account_setup.h"

#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <optional>
#include <utility>

#include "app/builder.h"
#include "app/layout.h"
#include "app/qt_ports.h"
#include "rating/comments.h"
#include "rating/schedule.h"
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
  w.height = 430;
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
  // What the automatic "good" says, and when it goes out: seen before anything is posted.
  v.push_back(MakeControl("外形框2", ControlKind::Frame, "", 8, 238, 240, 130));
  ControlLayout rating = MakeControl("标签9", ControlKind::Label, "自动评价", 88, 8, 64, 16, "外形框2");
  rating.font = FontFace::YaHei;
  rating.bold = true;
  v.push_back(rating);
  v.push_back(MakeControl("标签7", ControlKind::Label, "评价内容", 8, 30, 64, 24, "外形框2"));
  ControlLayout comment = MakeControl("自动评价内容编辑框", ControlKind::Edit, "", 72, 30, 152, 56, "外形框2");
  comment.multiLine = true;
  v.push_back(comment);
  v.push_back(MakeControl("标签8", ControlKind::Label, "评价时间", 8, 94, 64, 24, "外形框2"));
  v.push_back(MakeControl("标签3", ControlKind::Label,
                "AppKey和AppSecret在淘宝开放平台（open.taobao.com）的“应用管理”中，您的应用页上可以看到。",
                8, 372, 240, 56));
  return w;
}

std::string Trimmed(const QLineEdit* box) { return S(box->text().trimmed()); }

}  // namespace

const WindowLayout& AccountSetupLayout() {
  static const WindowLayout w = MakeAccountSetup();
  return w;
}

AccountSetupDialog::AccountSetupDialog(QWidget* owner, const std::string& dir, const std::string& nick, bool nickFixed)
    : QDialog(owner), dir_(dir) {
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
  comment_ = Control<QPlainTextEdit>(this, "自动评价内容编辑框");
  comment_->setToolTip("到期前自动给买家好评时使用的评语，最多 500 个字");
  ratingHours_ = new QDoubleSpinBox(Control<QWidget>(this, "外形框2"));
  ratingHours_->setObjectName("评价时间框");
  ratingHours_->setGeometry(72, 94, 152, 24);
  ratingHours_->setRange(0, 15 * 24);
  ratingHours_->setDecimals(1);
  ratingHours_->setPrefix("到期前 ");
  ratingHours_->setSuffix(" 小时");
  ratingHours_->setValue(kDefaultRatingHours);
  std::optional<std::string> comment;
  if (!nick.empty()) {
    appKey_->setText(Q(ReadAppKey(dir_, nick)));
    appSecret_->setText(Q(ReadAppSecret(dir_, nick)));
    comment = ReadAutoComment(dir_, nick);
    if (const std::string hours = ReadRatingHoursSetting(dir_, nick); !hours.empty())
      ratingHours_->setValue(ParseRatingHours(hours));
  }
  comment_->setPlainText(Q(comment.value_or(kDefaultAutoComment)));
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
  const std::string comment = TrimmedComment(S(comment_->toPlainText()));
  if (const std::size_t length = CommentLength(comment); length > kCommentLimit) {
    prompts.Warn(kAccountSetupTitle, "评价内容有 " + std::to_string(length) + " 个字，淘宝最多接受 " +
                                         std::to_string(kCommentLimit) + " 个字，没有保存。");
    comment_->setFocus(Qt::OtherFocusReason);
    return;
  }
  // "nick" and "NICK" are one section: the one already in the file keeps its spelling.
  const std::string section = AccountSectionName(dir_, nick);
  if (!WriteAppKey(dir_, section, key) || !WriteAppSecret(dir_, section, secret) ||
      !WriteRatingHoursSetting(dir_, section, RatingHoursText(ratingHours_->value()))) {
    prompts.Warn(kAccountSetupTitle, "无法写入“" + ConfigPath(dir_) + "”，没有保存。");
    return;
  }
  if (!SaveAutoComment(dir_, section, comment)) {
    prompts.Warn(kAccountSetupTitle, "无法写入“" + AutoCommentFileName(section) + "”，评价内容没有保存。");
    return;
  }
  saved_ = section;
  accept();
}

}  // namespace qm
