#pragma once
// The Qt forms of the user-interface ports (util/ports.h, util/event_pump.h):
// the order lists over the report-style list views, the timers over QTimer,
// the boxes over QMessageBox and QInputDialog, the clipboard over QClipboard
// and the event pump over the Qt event loop.
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QTreeWidget>
#include <functional>

#include "util/event_pump.h"
#include "util/ports.h"

class QMessageBox;

namespace qm {

class QtOrderList : public OrderList {
 public:
  explicit QtOrderList(QTreeWidget* list) : list_(list) {}

  int RowCount() const override;
  int ColumnCount() const override;
  std::string Cell(int row, int column) const override;
  // The focused row when it is selected, else the first selected row, else -1.
  int CurrentRow() const override;
  std::vector<int> SelectedRows() const override;
  int AppendRow(const std::vector<std::string>& cells) override;
  void AppendRows(const std::vector<std::vector<std::string>>& rows) override;
  void SetCell(int row, int column, const std::string& text) override;
  void DeleteRow(int row) override;
  void DeleteRows(const std::vector<int>& rows) override;
  void DeleteAllRows() override;
  void Repaint() override;
  void SetColours(std::uint32_t text, std::uint32_t background) override;

  QTreeWidget* Widget() const { return list_; }

 private:
  QTreeWidgetItem* MakeItem(const std::vector<std::string>& cells) const;
  QPointer<QTreeWidget> list_;
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

// Boxes modal to the whole program, with the information icon.
class QtPrompts : public Prompts {
 public:
  void Information(const std::string& title, const std::string& text) override;
  bool Question(const std::string& title, const std::string& text) override;
  std::optional<std::string> Input(const std::string& title, const std::string& label,
                                   const std::string& initial) override;

  // Called with every message box just before it is shown (tests answer boxes
  // through it); nullptr removes the hook.
  static void SetBoxHook(std::function<void(QMessageBox*)> hook);
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

// Shows `box` modally (through the hook when one is set) and returns the button chosen.
int ExecMessageBox(QMessageBox& box);

}  // namespace qm
