#include "app/run_settings_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <vector>

#include "app/alert_settings_window.h"
#include "app/builder.h"
#include "app/qt_ports.h"
#include "rating/comments.h"
#include "rating/run_settings.h"
#include "rating/schedule.h"
#include "rating/seller_run.h"
#include "settings/app_session.h"
#include "settings/config.h"
#include "util/text_codec.h"

namespace qm {
namespace {

// Each kept entry remembers what it is: an order number or a buyer's name.
constexpr int kKeptIsBuyer = Qt::UserRole;
constexpr int kKeptName = Qt::UserRole + 1;
// The longest lead the spin box takes: the whole rating period.
constexpr double kMostRatingHours = 15 * 24;

template <class W>
W* Named(W* widget, const char* name) {
  widget->setObjectName(QString::fromUtf8(name));
  return widget;
}

// The comments of the second box, one per line, trimmed, blank lines left out.
std::vector<std::string> MoreCommentLines(const QString& text) {
  std::vector<std::string> lines;
  for (const QString& line : text.split('\n')) {
    std::string comment = TrimmedComment(S(line.trimmed()));
    if (!comment.empty()) lines.push_back(std::move(comment));
  }
  return lines;
}

}  // namespace

RunSettingsWindow::RunSettingsWindow(AppSession& session, SellerRun* run, AlertOutbox* outbox, QWidget* owner)
    : QDialog(owner), session_(session), run_(run), outbox_(outbox) {
  setObjectName("RunSettingsWindow");
  setWindowTitle(Q(kRunSettingsTitle));
  setModal(true);
  const std::string& nick = session_.sellerNick;
  const RunSettings settings = run != nullptr ? run->Settings() : CurrentRunSettings(session_);

  firstComment_ = Named(new QPlainTextEdit(this), "自动评价内容编辑框");
  firstComment_->setPlainText(Q(settings.FirstComment()));
  firstComment_->setFixedHeight(56);
  moreComments_ = Named(new QPlainTextEdit(this), "其他评语编辑框");
  moreComments_->setPlaceholderText("每行一条，可不填");
  moreComments_->setFixedHeight(72);
  QString more;
  for (std::size_t i = 1; i < settings.comments.size(); ++i) more += Q(settings.comments[i]) + "\n";
  moreComments_->setPlainText(more);
  commentUse_ = Named(new QComboBox(this), "评语用法框");
  commentUse_->addItem("只用第一条", static_cast<int>(CommentUse::FirstOnly));
  commentUse_->addItem("轮流使用", static_cast<int>(CommentUse::InTurn));
  commentUse_->addItem("随机使用", static_cast<int>(CommentUse::AtRandom));
  commentUse_->setCurrentIndex(commentUse_->findData(static_cast<int>(settings.commentUse)));

  ratingHours_ = Named(new QDoubleSpinBox(this), "评价时间框");
  ratingHours_->setRange(0, kMostRatingHours);
  ratingHours_->setDecimals(1);
  ratingHours_->setSuffix(" 小时");
  ratingHours_->setValue(settings.ratingHours);
  ratingHours_->setToolTip("离评价期限还有这么多小时时自动给好评");
  reloadMinutes_ = Named(new QSpinBox(this), "重新读取间隔框");
  reloadMinutes_->setRange(0, 24 * 60);
  reloadMinutes_->setSuffix(" 分钟");
  reloadMinutes_->setSpecialValueText("不重新读取");
  reloadMinutes_->setValue(std::min(settings.reloadMinutes, 24 * 60));
  alerts_ = Named(new QCheckBox("买家给了中评或差评时提醒", this), "差评提醒框");
  alerts_->setChecked(settings.badRatingAlerts);
  answerStyle_ = Named(new QComboBox(this), "回评方式框");
  answerStyle_->addItem("按买家的评价回评：好评回好评，中差评可回差评", false);
  answerStyle_->addItem("先回差评，再读买家的评价", true);
  answerStyle_->setCurrentIndex(settings.answerBadFirst ? 1 : 0);

  kept_ = Named(new QListWidget(this), "不自动评价列表");
  kept_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  kept_->setFixedHeight(80);
  auto* release = Named(new QPushButton("解除", this), "解除按钮");
  release->setToolTip("选中的订单和买家以后可以自动评价");
  release->setEnabled(run != nullptr);
  connect(release, &QPushButton::clicked, this, &RunSettingsWindow::ReleaseKept);
  ShowKeptEntries();

  auto* form = new QFormLayout;
  form->addRow("自动评价内容", firstComment_);
  form->addRow("其他评语", moreComments_);
  form->addRow("评语用法", commentUse_);
  form->addRow("评价时间", ratingHours_);
  form->addRow("重新读取间隔", reloadMinutes_);
  auto* alertRow = new QHBoxLayout;
  alertRow->addWidget(alerts_, 1);
  auto* alertPlaces = Named(new QPushButton("发到手机和群…", this), "提醒设置按钮");
  alertPlaces->setToolTip("把中评、差评提醒和每日汇总发到钉钉群、企业微信群、网址或邮箱");
  connect(alertPlaces, &QPushButton::clicked, this, [this] {
    AlertSettingsWindow window(session_, outbox_, this);
    window.exec();
  });
  alertRow->addWidget(alertPlaces);
  form->addRow("差评提醒", alertRow);
  form->addRow("回评方式", answerStyle_);
  auto* keptRow = new QHBoxLayout;
  keptRow->addWidget(kept_, 1);
  keptRow->addWidget(release, 0, Qt::AlignTop);
  form->addRow("不自动评价", keptRow);
  auto* buttons = new QDialogButtonBox(this);
  Named(buttons->addButton("保存", QDialogButtonBox::AcceptRole), "保存按钮");
  Named(buttons->addButton("取消", QDialogButtonBox::RejectRole), "取消按钮");
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    if (Save()) accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  auto* who = new QLabel(this);
  who->setTextFormat(Qt::PlainText);
  who->setText("卖家：" + Q(nick));
  layout->addWidget(who);
  layout->addLayout(form);
  layout->addWidget(buttons);
  resize(560, sizeHint().height());
}

bool RunSettingsWindow::Save() {
  RunSettings settings;
  settings.comments.push_back(TrimmedComment(S(firstComment_->toPlainText())));
  for (std::string& more : MoreCommentLines(moreComments_->toPlainText())) settings.comments.push_back(std::move(more));
  settings.commentUse = static_cast<CommentUse>(commentUse_->currentData().toInt());
  settings.ratingHours = static_cast<float>(ratingHours_->value());
  settings.reloadMinutes = reloadMinutes_->value();
  settings.badRatingAlerts = alerts_->isChecked();
  settings.answerBadFirst = answerStyle_->currentData().toBool();
  std::string problem;
  if (SaveRunSettings(session_.programDir, session_.sellerNick, run_, settings, &problem)) {
    // The record's copy, which this window reads before a run exists, follows what was saved.
    session_.autoContent = settings.FirstComment();
    session_.ratingHours = settings.ratingHours;
    session_.reloadMinutes = settings.reloadMinutes;
    return true;
  }
  QtPrompts().Information(kRunSettingsTitle, problem);
  return false;
}

void RunSettingsWindow::ShowKeptEntries() {
  kept_->clear();
  if (run_ == nullptr) return;
  KeepList& keep = run_->Keep();
  keep.Refresh();
  for (const auto& [names, buyer] : {std::pair{&keep.KeptOrders(), false}, std::pair{&keep.KeptBuyers(), true}}) {
    for (const std::string& name : *names) {
      auto* item = new QListWidgetItem((buyer ? "买家  " : "订单  ") + Q(name), kept_);
      item->setData(kKeptIsBuyer, buyer);
      item->setData(kKeptName, Q(name));
    }
  }
  if (kept_->count() == 0) {
    auto* none = new QListWidgetItem("（没有不自动评价的订单或买家）", kept_);
    none->setFlags(Qt::NoItemFlags);
  }
}

void RunSettingsWindow::ReleaseKept() {
  if (run_ == nullptr) return;
  SellerRun* run = run_;
  std::string failed;
  for (const QListWidgetItem* item : kept_->selectedItems()) {
    const std::string name = S(item->data(kKeptName).toString());
    const bool ok = item->data(kKeptIsBuyer).toBool() ? run->Keep().ReleaseBuyer(name) : run->Keep().ReleaseOrder(name);
    if (!ok) failed = name;
  }
  ShowKeptEntries();
  run->Book().Unrated().Repaint();
  if (!failed.empty())
    QtPrompts().Information(kRunSettingsTitle, "“" + failed + "”无法解除：“" + KeepListFileName(session_.sellerNick) + "”无法保存。");
}

}  // namespace qm
