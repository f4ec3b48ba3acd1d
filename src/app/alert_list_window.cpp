#include "app/alert_list_window.h"

#include <QColor>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "app/builder.h"
#include "rating/run_texts.h"

namespace qm {
namespace {

constexpr const char* kColumns[] = {"订单编号", "买家旺旺", "评价", "时间", "买家评语"};
constexpr int kColumnCount = static_cast<int>(std::size(kColumns));
constexpr int kCommentColumn = 4;
// A cell or tooltip shows this much of a text; the comment box shows it all
// up to kCommentBoxLimit (a buyer's comment is short; anything longer is not one).
constexpr int kCellLimit = 200;
constexpr int kToolTipLimit = 1000;
constexpr int kCommentBoxLimit = 20000;

QString Cut(const QString& text, int limit) { return text.size() <= limit ? text : text.left(limit) + QChar(0x2026); }

QString Comment(const BuyerAlert& a) { return a.comment.empty() ? QString::fromUtf8(kNoBuyerComment) : Q(a.comment); }

QString Field(const BuyerAlert& a, int column) {
  switch (column) {
    case 0: return Q(a.tid);
    case 1: return Q(a.buyer);
    case 2: return Q(VerdictWords(a.result));
    case 3: return Q(a.time);
    case kCommentColumn: return Comment(a);
    default: return {};
  }
}

// One line: a cell does not grow for a comment's line breaks or tabs.
QString OneLine(QString text) {
  for (QChar& c : text) {
    if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator) c = ' ';
  }
  return text;
}

}  // namespace

void AlertListModel::SetAlerts(std::vector<BuyerAlert> alerts) {
  beginResetModel();
  alerts_ = std::move(alerts);
  endResetModel();
}

int AlertListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(alerts_.size());
}

int AlertListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant AlertListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const BuyerAlert& a = alerts_[static_cast<std::size_t>(index.row())];
  if (role == Qt::DisplayRole) return OneLine(Cut(Field(a, index.column()), kCellLimit));
  if (role == Qt::ToolTipRole && (index.column() == kCommentColumn || index.column() == 1)) {
    return PlainToolTip(Cut(Field(a, index.column()), kToolTipLimit));
  }
  if ((role == Qt::ForegroundRole || role == Qt::BackgroundRole) && index.column() == 2) {
    // The verdict in the colours of the notice and of its row in the buyer-rated list.
    const std::optional<NoticeStyle> style = NoticeStyleFor(a.result);
    if (style) return QColor::fromRgb(role == Qt::ForegroundRole ? style->textColour : style->background);
  }
  return {};
}

QVariant AlertListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < kColumnCount) {
    return QString::fromUtf8(kColumns[section]);
  }
  return QAbstractTableModel::headerData(section, orientation, role);
}

AlertListWindow::AlertListWindow(AlertList& alerts, ShowOrder showOrder, std::function<void(bool)> seen,
                                 QWidget* owner)
    : QDialog(owner), alerts_(alerts), showOrder_(std::move(showOrder)), seen_(std::move(seen)) {
  setObjectName("AlertListWindow");
  setWindowTitle(kAlertTitle);
  setModal(false);
  resize(760, 460);
  auto* layout = new QVBoxLayout(this);

  hint_ = new QLabel("双击一条提醒可在“对方已评价”列表中选中该订单。关闭本窗口后，这些提醒记为已读。", this);
  hint_->setObjectName("提醒说明");
  hint_->setTextFormat(Qt::PlainText);
  hint_->setWordWrap(true);
  layout->addWidget(hint_);

  model_ = new AlertListModel(this);
  table_ = new QTableView(this);
  table_->setObjectName("差评提醒表");
  table_->setModel(model_);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setWordWrap(false);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setColumnWidth(0, 140);
  table_->setColumnWidth(1, 120);
  table_->setColumnWidth(2, 48);
  table_->setColumnWidth(3, 140);
  layout->addWidget(table_, 3);

  comment_ = new QPlainTextEdit(this);
  comment_->setObjectName("买家评语框");
  comment_->setReadOnly(true);
  comment_->setPlaceholderText("选中一条提醒，这里显示买家的评语。");
  layout->addWidget(comment_, 1);

  auto* bar = new QHBoxLayout();
  bar->addStretch(1);
  allRead_ = new QPushButton("全部已读", this);
  allRead_->setObjectName("全部已读按钮");
  bar->addWidget(allRead_);
  layout->addLayout(bar);

  connect(allRead_, &QPushButton::clicked, this, &QDialog::accept);
  connect(table_, &QAbstractItemView::activated, this, [this](const QModelIndex& index) { Chosen(index, true); });
  connect(table_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) { Chosen(current, false); });
  Reload();
}

void AlertListWindow::Reload() {
  const QModelIndex current = table_->currentIndex();
  const std::string chosen = current.isValid() ? model_->Alerts()[static_cast<std::size_t>(current.row())].tid : "";
  std::vector<BuyerAlert> alerts = alerts_.Unseen();
  std::reverse(alerts.begin(), alerts.end());
  // The reset must not count as the seller choosing another alert.
  const QSignalBlocker quiet(table_->selectionModel());
  model_->SetAlerts(std::move(alerts));
  const auto& shown = model_->Alerts();
  const auto it = std::find_if(shown.begin(), shown.end(), [&](const BuyerAlert& a) { return a.tid == chosen; });
  if (!chosen.empty() && it != shown.end()) {
    table_->selectionModel()->setCurrentIndex(model_->index(static_cast<int>(it - shown.begin()), 0),
                                              QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  } else {
    comment_->clear();
  }
  hint_->setText(shown.empty() ? "没有未读的差评提醒。"
                               : "双击一条提醒可在“对方已评价”列表中选中该订单。关闭本窗口后，这些提醒记为已读。");
}

void AlertListWindow::Chosen(const QModelIndex& index, bool toFront) {
  if (!index.isValid() || index.row() >= model_->rowCount()) return;
  const BuyerAlert& alert = model_->Alerts()[static_cast<std::size_t>(index.row())];
  comment_->setPlainText(Cut(Comment(alert), kCommentBoxLimit));
  const std::string tid = alert.tid;  // the call may reload the list
  if (showOrder_) showOrder_(tid, toFront);
}

void AlertListWindow::done(int result) {
  std::vector<std::string> shown;
  for (const BuyerAlert& a : model_->Alerts()) shown.push_back(a.tid);
  const bool stored = alerts_.MarkSeen(shown);
  model_->SetAlerts({});
  if (seen_) seen_(stored);
  QDialog::done(result);
}

}  // namespace qm
