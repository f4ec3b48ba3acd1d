#include "app/rating_log_window.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "app/builder.h"
#include "app/stats_window.h"
#include "app/qt_ports.h"
#include "util/file_io.h"

namespace qm {
namespace {

constexpr const char* kColumns[] = {"时间", "订单编号", "买家旺旺", "评价", "评语", "方式", "结果"};
constexpr int kColumnCount = static_cast<int>(std::size(kColumns));

QString Field(const RatingLogEntry& e, int column) {
  switch (column) {
    case 0: return Q(e.time);
    case 1: return Q(e.tid);
    case 2: return Q(e.buyer);
    case 3: return Q(RatingResultWords(e.result));
    case 4: return Q(e.comment);
    case 5: return Q(RatingStartWords(e.started));
    case 6: return Q(e.OutcomeWords());
    default: return {};
  }
}

}  // namespace

void RatingLogModel::SetEntries(std::vector<RatingLogEntry> entries) {
  beginResetModel();
  entries_ = std::move(entries);
  endResetModel();
}

int RatingLogModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

int RatingLogModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant RatingLogModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const RatingLogEntry& e = entries_[static_cast<std::size_t>(index.row())];
  // The cells are one line each; the whole comment on hover, as text.
  if (role == Qt::DisplayRole) return Field(e, index.column()).replace('\n', ' ').replace('\r', ' ');
  if (role == Qt::ToolTipRole && (index.column() == 4 || index.column() == 6)) {
    return PlainToolTip(Field(e, index.column()));
  }
  return {};
}

QVariant RatingLogModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < kColumnCount) {
    return QString::fromUtf8(kColumns[section]);
  }
  return QAbstractTableModel::headerData(section, orientation, role);
}

RatingLogWindow::RatingLogWindow(RatingLog* log, QWidget* owner) : QDialog(owner), log_(log) {
  setObjectName("RatingLogWindow");
  setWindowTitle("评价记录");
  resize(900, 560);
  auto* layout = new QVBoxLayout(this);
  auto* bar = new QHBoxLayout();
  auto* label = new QLabel("订单编号或买家：", this);
  label->setTextFormat(Qt::PlainText);
  filter_ = new QLineEdit(this);
  filter_->setObjectName("筛选编辑框");
  filter_->setClearButtonEnabled(true);
  auto* exportButton = new QPushButton("导出CSV", this);
  exportButton->setObjectName("导出按钮");
  bar->addWidget(label);
  bar->addWidget(filter_, 1);
  auto* statsButton = new QPushButton("统计", this);
  statsButton->setObjectName("统计按钮");
  statsButton->setToolTip("最近 30 天或 90 天每天给出和收到的评价");
  connect(statsButton, &QPushButton::clicked, this, [this] {
    StatsWindow stats(log_, this);
    stats.exec();
  });
  bar->addWidget(exportButton);
  bar->addWidget(statsButton);
  layout->addLayout(bar);

  model_ = new RatingLogModel(this);
  table_ = new QTableView(this);
  table_->setObjectName("评价记录表");
  table_->setModel(model_);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setWordWrap(false);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);
  // Narrow columns for the short words, so that 结果 shows without scrolling.
  table_->setColumnWidth(0, 140);
  table_->setColumnWidth(1, 130);
  table_->setColumnWidth(2, 120);
  table_->setColumnWidth(3, 48);
  table_->setColumnWidth(4, 220);
  table_->setColumnWidth(5, 48);
  layout->addWidget(table_, 1);

  connect(filter_, &QLineEdit::textChanged, this, &RatingLogWindow::Reload);
  connect(exportButton, &QPushButton::clicked, this, &RatingLogWindow::AskAndExport);
  Reload();
}

void RatingLogWindow::Reload() {
  model_->SetEntries(log_ ? log_->Entries(S(filter_->text().trimmed())) : std::vector<RatingLogEntry>{});
}

bool RatingLogWindow::ExportTo(const std::string& path) {
  std::string error;
  if (WriteRatingLogCsv(log_ != nullptr ? log_->Directory() : std::string(), model_->Entries(), path, &error)) return true;
  QtPrompts().Warn("导出CSV", error);
  return false;
}

void RatingLogWindow::AskAndExport() {
  const QString path = QFileDialog::getSaveFileName(this, "导出CSV", "评价记录.csv", "CSV (*.csv)");
  if (path.isEmpty() || !ExportTo(S(path))) return;
  QtPrompts().Information("导出CSV", "已导出 " + std::to_string(model_->Entries().size()) + " 条评价记录到：\n" +
                                         S(QDir::toNativeSeparators(path)));
}

}  // namespace qm
