#include "app/qt_ports.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QImage>
#include <QInputDialog>
#include <QMessageBox>
#include <QMimeData>
#include <QThread>
#include <algorithm>

#include "app/builder.h"

namespace qm {

// ---- the order lists ----

int QtOrderList::RowCount() const { return list_ ? list_->topLevelItemCount() : 0; }

int QtOrderList::ColumnCount() const { return list_ ? list_->columnCount() : 0; }

std::string QtOrderList::Cell(int row, int column) const {
  if (!list_ || column < 0 || column >= list_->columnCount()) return {};
  QTreeWidgetItem* item = list_->topLevelItem(row);
  return item ? S(item->text(column)) : std::string();
}

int QtOrderList::CurrentRow() const {
  if (!list_) return -1;
  QTreeWidgetItem* current = list_->currentItem();
  if (current != nullptr && current->isSelected()) return list_->indexOfTopLevelItem(current);
  std::vector<int> selected = SelectedRows();
  return selected.empty() ? -1 : selected.front();
}

std::vector<int> QtOrderList::SelectedRows() const {
  std::vector<int> rows;
  if (!list_) return rows;
  for (QTreeWidgetItem* item : list_->selectedItems()) {
    int index = list_->indexOfTopLevelItem(item);
    if (index >= 0) rows.push_back(index);
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

QTreeWidgetItem* QtOrderList::MakeItem(const std::vector<std::string>& cells) const {
  auto* item = new QTreeWidgetItem();
  const int columns = list_->columnCount();
  for (int c = 0; c < columns && c < int(cells.size()); ++c) item->setText(c, Q(cells[size_t(c)]));
  return item;
}

int QtOrderList::AppendRow(const std::vector<std::string>& cells) {
  if (!list_) return -1;
  list_->addTopLevelItem(MakeItem(cells));
  return list_->topLevelItemCount() - 1;
}

void QtOrderList::AppendRows(const std::vector<std::vector<std::string>>& rows) {
  if (!list_ || rows.empty()) return;
  QList<QTreeWidgetItem*> items;
  items.reserve(qsizetype(rows.size()));
  for (const auto& cells : rows) items.append(MakeItem(cells));
  list_->setUpdatesEnabled(false);
  list_->addTopLevelItems(items);
  list_->setUpdatesEnabled(true);
}

void QtOrderList::SetCell(int row, int column, const std::string& text) {
  if (!list_ || column < 0 || column >= list_->columnCount()) return;
  if (QTreeWidgetItem* item = list_->topLevelItem(row)) item->setText(column, Q(text));
}

void QtOrderList::DeleteRow(int row) {
  if (!list_ || row < 0 || row >= list_->topLevelItemCount()) return;
  delete list_->takeTopLevelItem(row);
}

void QtOrderList::DeleteRows(const std::vector<int>& rows) {
  if (!list_ || rows.empty()) return;
  std::vector<int> order(rows);
  std::sort(order.begin(), order.end(), [](int a, int b) { return a > b; });
  order.erase(std::unique(order.begin(), order.end()), order.end());
  list_->setUpdatesEnabled(false);
  for (int row : order) {
    if (row >= 0 && row < list_->topLevelItemCount()) delete list_->takeTopLevelItem(row);
  }
  list_->setUpdatesEnabled(true);
}

void QtOrderList::DeleteAllRows() {
  if (list_) list_->clear();
}

void QtOrderList::Repaint() {
  if (list_) list_->viewport()->update();
}

void QtOrderList::SetColours(std::uint32_t text, std::uint32_t background) {
  if (!list_) return;
  list_->setStyleSheet(QString("QTreeWidget { color: #%1; background: #%2; }")
                           .arg(text & 0xFFFFFF, 6, 16, QChar('0'))
                           .arg(background & 0xFFFFFF, 6, 16, QChar('0')));
}

// ---- timers ----

void QtTimer::SetInterval(int milliseconds) {
  if (!timer_) return;
  if (milliseconds <= 0) {
    timer_->stop();
  } else {
    timer_->start(milliseconds);
  }
}

int QtTimer::Interval() const { return (timer_ && timer_->isActive()) ? timer_->interval() : 0; }

// ---- boxes ----

namespace {
std::function<void(QMessageBox*)>& BoxHook() {
  static std::function<void(QMessageBox*)> hook;
  return hook;
}
}  // namespace

void QtPrompts::SetBoxHook(std::function<void(QMessageBox*)> hook) { BoxHook() = std::move(hook); }

int ExecMessageBox(QMessageBox& box) {
  box.setWindowModality(Qt::ApplicationModal);
  if (BoxHook()) {
    QMessageBox* target = &box;
    // The hook runs once the box's own loop is running, as a user would answer it.
    QTimer::singleShot(0, &box, [target] {
      if (BoxHook()) BoxHook()(target);
    });
  }
  return box.exec();
}

void QtPrompts::Information(const std::string& title, const std::string& text) {
  QMessageBox box(QMessageBox::Information, Q(title), Q(text), QMessageBox::Ok);
  ExecMessageBox(box);
}

bool QtPrompts::Question(const std::string& title, const std::string& text) {
  QMessageBox box(QMessageBox::Information, Q(title), Q(text), QMessageBox::Ok | QMessageBox::Cancel);
  box.setDefaultButton(QMessageBox::Ok);
  box.setEscapeButton(QMessageBox::Cancel);
  return ExecMessageBox(box) == QMessageBox::Ok;
}

std::optional<std::string> QtPrompts::Input(const std::string& title, const std::string& label,
                                            const std::string& initial) {
  bool ok = false;
  QString text = QInputDialog::getText(QApplication::activeWindow(), Q(title), Q(label), QLineEdit::Normal,
                                       Q(initial), &ok);
  if (!ok) return std::nullopt;
  return S(text);
}

// ---- the clipboard ----

bool QtClipboard::SetText(const std::string& text) {
  QClipboard* clip = QGuiApplication::clipboard();
  if (clip == nullptr) return false;
  clip->setText(Q(text));
  return true;
}

std::string QtClipboard::Text() const {
  QClipboard* clip = QGuiApplication::clipboard();
  return clip ? S(clip->text()) : std::string();
}

bool QtClipboard::SetPicture(const std::vector<std::uint8_t>& png) {
  QClipboard* clip = QGuiApplication::clipboard();
  QImage image;
  if (clip == nullptr || !image.loadFromData(png.data(), int(png.size()), "PNG")) return false;
  clip->setImage(image);
  return true;
}

std::vector<std::uint8_t> QtClipboard::Picture() const {
  QClipboard* clip = QGuiApplication::clipboard();
  if (clip == nullptr) return {};
  QImage image = clip->image();
  if (image.isNull()) return {};
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

// ---- the event pump ----

QtEventPump::QtEventPump() : context_(new QObject()) {}

QtEventPump::~QtEventPump() { delete context_; }

void QtEventPump::RunPending() {
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool QtEventPump::WaitAndRun(std::chrono::milliseconds limit) {
  if (limit.count() <= 0) {
    RunPending();
    return false;
  }
  bool timedOut = false;
  QTimer wake;
  wake.setSingleShot(true);
  QObject::connect(&wake, &QTimer::timeout, [&timedOut] { timedOut = true; });
  wake.start(int(std::min<std::chrono::milliseconds::rep>(limit.count(), 0x7FFFFFFF)));
  QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  return !timedOut;
}

void QtEventPump::Post(std::function<void()> fn) {
  if (!fn) return;
  QMetaObject::invokeMethod(context_, std::move(fn), Qt::QueuedConnection);
}

bool QtEventPump::OnOwnerThread() const { return QThread::currentThread() == context_->thread(); }

}  // namespace qm
