#include "app/qt_ports.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QThread>
#include <algorithm>

#include "app/builder.h"

namespace qm {

// ---- the order lists ----

OrderTableModel::OrderTableModel(const OrderRows& rows, QStringList titles, QObject* parent)
    : QAbstractTableModel(parent), rows_(&rows), titles_(std::move(titles)) {}

int OrderTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() || rows_ == nullptr ? 0 : rows_->RowCount();
}

int OrderTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(titles_.size());
}

QVariant OrderTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || rows_ == nullptr || index.row() >= rows_->RowCount()) return {};
  if (role != Qt::DisplayRole) return decoration_ ? decoration_(rows_->Row(index.row()), index.column(), role) : QVariant();
  const std::string_view text = rows_->Cell(index.row(), index.column());
  return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QVariant OrderTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= titles_.size()) {
    return QAbstractTableModel::headerData(section, orientation, role);
  }
  return titles_[section];
}

QtOrderList::QtOrderList(QTreeView* view, OrderRows& rows) : view_(view), rows_(rows) {
  if (view_ == nullptr) return;
  // The layout gave the view a model of column titles only; the book's list
  // takes its place with the same titles and widths.
  QAbstractItemModel* placeholder = view_->model();
  QItemSelectionModel* oldSelection = view_->selectionModel();
  QStringList titles;
  QList<int> widths;
  for (int c = 0; placeholder != nullptr && c < placeholder->columnCount(); ++c) {
    titles << placeholder->headerData(c, Qt::Horizontal).toString();
    widths << view_->header()->sectionSize(c);
  }
  model_ = new OrderTableModel(rows_, titles, view_);
  view_->setModel(model_);
  for (int c = 0; c < widths.size(); ++c) view_->header()->resizeSection(c, widths[c]);
  delete oldSelection;
  if (placeholder != nullptr && placeholder->parent() == view_) delete placeholder;
  rows_.AttachView(this);
}

QtOrderList::~QtOrderList() {
  if (rows_.View() == this) rows_.AttachView(nullptr);
  // The view stays with the window; it shows an empty list from here on.
  if (model_) {
    model_->beginResetModel();
    model_->rows_ = nullptr;
    model_->decoration_ = nullptr;
    model_->endResetModel();
  }
}

void QtOrderList::BeginReset() {
  if (model_) model_->beginResetModel();
}
void QtOrderList::EndReset(int) {
  if (model_) model_->endResetModel();
}
void QtOrderList::BeginInsert(int first, int last) {
  if (model_) model_->beginInsertRows(QModelIndex(), first, last);
}
void QtOrderList::EndInsert() {
  if (model_) model_->endInsertRows();
}
void QtOrderList::BeginRemove(int first, int last) {
  if (model_) model_->beginRemoveRows(QModelIndex(), first, last);
}
void QtOrderList::EndRemove() {
  if (model_) model_->endRemoveRows();
}
void QtOrderList::RowsChanged(int first, int last, int column) {
  if (model_) emit model_->dataChanged(model_->index(first, column), model_->index(last, column), {Qt::DisplayRole});
}

int QtOrderList::CurrentRow() const {
  if (!view_ || view_->selectionModel() == nullptr) return -1;
  QItemSelectionModel* selection = view_->selectionModel();
  const QModelIndex current = selection->currentIndex();
  if (current.isValid() && selection->isRowSelected(current.row(), QModelIndex())) return current.row();
  std::vector<int> selected = SelectedRows();
  return selected.empty() ? -1 : selected.front();
}

std::vector<int> QtOrderList::SelectedRows() const {
  std::vector<int> rows;
  if (!view_ || view_->selectionModel() == nullptr) return rows;
  for (const QModelIndex& index : view_->selectionModel()->selectedRows()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

void QtOrderList::Repaint() {
  if (view_) view_->viewport()->update();
}

void QtOrderList::SetColours(std::uint32_t text, std::uint32_t background) {
  if (!view_) return;
  view_->setStyleSheet(QString("QTreeView { color: #%1; background: #%2; }")
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

int ExecMessageBox(QMessageBox& box) {
  box.setWindowModality(Qt::ApplicationModal);
  // Box texts carry order numbers, buyers' names and the platform's words: plain text.
  box.setTextFormat(Qt::PlainText);
  return box.exec();
}

void QtPrompts::Information(const std::string& title, const std::string& text) {
  QMessageBox box(QMessageBox::Information, Q(title), Q(text), QMessageBox::Ok);
  ExecMessageBox(box);
}

namespace {
bool AskWithIcon(QMessageBox::Icon icon, const std::string& title, const std::string& text) {
  QMessageBox box(icon, Q(title), Q(text), QMessageBox::Ok | QMessageBox::Cancel);
  box.setDefaultButton(QMessageBox::Ok);
  box.setEscapeButton(QMessageBox::Cancel);
  return ExecMessageBox(box) == QMessageBox::Ok;
}
}  // namespace

bool QtPrompts::Question(const std::string& title, const std::string& text) {
  return AskWithIcon(QMessageBox::Information, title, text);
}

bool QtPrompts::Ask(const std::string& title, const std::string& text) {
  return AskWithIcon(QMessageBox::Question, title, text);
}

void QtPrompts::Warn(const std::string& title, const std::string& text) {
  QMessageBox box(QMessageBox::Warning, Q(title), Q(text), QMessageBox::Ok);
  ExecMessageBox(box);
}

std::optional<std::string> QtPrompts::Input(const std::string& title, const std::string& label,
                                            const std::string& initial) {
  QInputDialog dialog(QApplication::activeWindow());
  dialog.setWindowTitle(Q(title));
  dialog.setLabelText(Q(label));
  dialog.setTextValue(Q(initial));
  dialog.setWindowModality(Qt::ApplicationModal);
  // The prompt names the buyer: plain text, as every box.
  for (QLabel* text : dialog.findChildren<QLabel*>()) text->setTextFormat(Qt::PlainText);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return S(dialog.textValue());
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
