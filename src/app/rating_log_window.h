#pragma once
// The window 评价记录: the seller's rating log, newest first, with a filter by
// order number or buyer and "导出CSV". It reads the run's log when opened and
// whenever the filter changes; the log itself is the core's (rating/rating_log.h).
#include <QAbstractTableModel>
#include <QDialog>
#include <string>
#include <vector>

#include "rating/rating_log.h"

class QLineEdit;
class QTableView;

namespace qm {

class RatingLogModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  using QAbstractTableModel::QAbstractTableModel;
  void SetEntries(std::vector<RatingLogEntry> entries);
  const std::vector<RatingLogEntry>& Entries() const { return entries_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  std::vector<RatingLogEntry> entries_;
};

class RatingLogWindow : public QDialog {
  Q_OBJECT
 public:
  // The entries of `log` (the run's; null shows none).
  explicit RatingLogWindow(RatingLog* log, QWidget* owner = nullptr);

  // Reads the log again with the filter's text.
  void Reload();
  // Writes the entries shown as CSV; false with a box when it cannot.
  bool ExportTo(const std::string& path);

  QLineEdit* Filter() const { return filter_; }
  QTableView* Table() const { return table_; }
  const RatingLogModel& Model() const { return *model_; }

 private:
  void AskAndExport();

  RatingLog* log_ = nullptr;
  QLineEdit* filter_ = nullptr;
  QTableView* table_ = nullptr;
  RatingLogModel* model_ = nullptr;
};

}  // namespace qm
