#pragma once
// The window 差评提醒: the buyers' neutral and bad ratings the seller has not
// seen yet, newest first, with the order number, the buyer, the verdict, when
// it came and the buyer's comment, all as plain text. Choosing an alert
// selects its order in the main window's buyer-rated list, so the window is
// not modal: the seller answers the order while the list stays open. Closing
// the window (or 全部已读) marks every alert it showed as seen: a seller who
// opened the list has read it, and the count in the title bar goes away. The
// alerts themselves are the run's (rating/alert_list.h).
#include <QAbstractTableModel>
#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "rating/alert_list.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableView;

namespace qm {

class AlertListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  using QAbstractTableModel::QAbstractTableModel;
  void SetAlerts(std::vector<BuyerAlert> alerts);
  const std::vector<BuyerAlert>& Alerts() const { return alerts_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  std::vector<BuyerAlert> alerts_;
};

class AlertListWindow : public QDialog {
  Q_OBJECT
 public:
  // `showOrder` selects the order in the buyer-rated list; `toFront` when
  // the seller double-clicked or pressed Enter (the main window comes
  // forward). `seen` runs after the window marked its alerts seen, false
  // when the log could not keep that.
  using ShowOrder = std::function<void(const std::string& tid, bool toFront)>;
  AlertListWindow(AlertList& alerts, ShowOrder showOrder, std::function<void(bool stored)> seen, QWidget* owner);

  // The run's unseen alerts again (more may come while the window is open);
  // the chosen alert stays chosen.
  void Reload();

  QTableView* Table() const { return table_; }
  QPushButton* AllReadButton() const { return allRead_; }
  QPlainTextEdit* CommentBox() const { return comment_; }
  const AlertListModel& Model() const { return *model_; }

  void done(int result) override;

 private:
  void Chosen(const QModelIndex& index, bool toFront);

  AlertList& alerts_;
  ShowOrder showOrder_;
  std::function<void(bool)> seen_;
  AlertListModel* model_ = nullptr;
  QTableView* table_ = nullptr;        // 差评提醒表
  QPlainTextEdit* comment_ = nullptr;  // 买家评语框
  QLabel* hint_ = nullptr;             // 提醒说明
  QPushButton* allRead_ = nullptr;     // 全部已读按钮
};

}  // namespace qm
