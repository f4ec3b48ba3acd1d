#pragma once
// The Qt forms of the user-interface ports (util/ports.h, util/event_pump.h):
// the order book's lists as item models under report-style list views, the timers over QTimer,
// the boxes over QMessageBox and QInputDialog, the clipboard over QClipboard
// and the event pump over the Qt event loop.
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QAbstractTableModel>
#include <QStringList>
#include <QTreeView>
#include <functional>

#include "orders/order_book.h"
#include "util/event_pump.h"
#include "util/ports.h"

class QInputDialog;
class QMessageBox;

namespace qm {

// A list of the order book as a Qt item model: it reads the book's rows and
// passes on the book's announcements of change. Cells are plain text.
class OrderTableModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  OrderTableModel(const OrderRows& rows, QStringList titles, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  // What a row shows besides its texts (colours, tooltips): asked for every
  // role but the display role; an invalid QVariant means the view's default.
  using Decoration = std::function<QVariant(const OrderRow& row, int column, int role)>;
  void SetDecoration(Decoration decoration) { decoration_ = std::move(decoration); }

 private:
  friend class QtOrderList;
  // The list shown; nullptr once its book is gone (the view may outlive it).
  const OrderRows* rows_;
  QStringList titles_;
  Decoration decoration_;
};

// The view of one list of the book over a report-style QTreeView. Attaching
// gives the view a model over the book's list and keeps the column titles and
// widths the window's layout gave it.
class QtOrderList : public OrderList {
 public:
  QtOrderList(QTreeView* view, OrderRows& rows);
  ~QtOrderList() override;
  QtOrderList(const QtOrderList&) = delete;
  QtOrderList& operator=(const QtOrderList&) = delete;

  void BeginReset() override;
  void EndReset(int rows) override;
  void BeginInsert(int first, int last) override;
  void EndInsert() override;
  void BeginRemove(int first, int last) override;
  void EndRemove() override;
  void RowsChanged(int first, int last, int column) override;
  // The focused row when it is selected, else the first selected row, else -1.
  int CurrentRow() const override;
  std::vector<int> SelectedRows() const override;
  void Repaint() override;
  void SetColours(std::uint32_t text, std::uint32_t background) override;

  QTreeView* Widget() const { return view_; }
  OrderTableModel* Model() const { return model_; }

 private:
  QPointer<QTreeView> view_;
  OrderRows& rows_;
  QPointer<OrderTableModel> model_;
};

// 0 stops the timer; a positive interval (re)starts it with that period.
class QtTimer : public Timer {
 public:
  explicit QtTimer(QTimer* timer) : timer_(timer) {}
  void SetInterval(int milliseconds) override;
  int Interval() const override;

 private:
  QPointer<QTimer> timer_;
};

// Boxes modal to the whole program: the information icon for Information
// and Question, the question icon for Ask, the warning icon for Warn.
class QtPrompts : public Prompts {
 public:
  void Information(const std::string& title, const std::string& text) override;
  bool Question(const std::string& title, const std::string& text) override;
  bool Ask(const std::string& title, const std::string& text) override;
  void Warn(const std::string& title, const std::string& text) override;
  std::optional<std::string> Input(const std::string& title, const std::string& label,
                                   const std::string& initial) override;
};

class QtClipboard : public Clipboard {
 public:
  bool SetText(const std::string& text) override;
  std::string Text() const override;
  bool SetPicture(const std::vector<std::uint8_t>& png) override;
  std::vector<std::uint8_t> Picture() const override;
};

// The Qt event loop behind the program's waits. Make it on the UI thread
// after the QApplication.
class QtEventPump : public EventPump {
 public:
  QtEventPump();
  ~QtEventPump() override;
  void RunPending() override;
  bool WaitAndRun(std::chrono::milliseconds limit) override;
  void Post(std::function<void()> fn) override;
  bool OnOwnerThread() const override;

 private:
  QObject* context_;
};

// Shows `box` modally, its texts as plain text, and returns the button chosen.
int ExecMessageBox(QMessageBox& box);

}  // namespace qm
