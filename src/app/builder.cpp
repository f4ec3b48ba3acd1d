#include "app/builder.h"

#include <QAction>
#include <QComboBox>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QStandardItemModel>
#include <QTreeView>
#include <QWebEngineView>
#include <QWindow>
#include <map>

#include "app/icons.h"

namespace qm {
namespace {

// Moves its target while the left button is held on the watched widget.
class DragFilter : public QObject {
 public:
  DragFilter(QWidget* handle, QWidget* target) : QObject(handle), target_(target) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (target_.isNull()) return QObject::eventFilter(watched, event);
    switch (event->type()) {
      case QEvent::MouseButtonPress: {
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() != Qt::LeftButton) break;
        if (target_->isWindow() && target_->windowHandle() != nullptr && target_->windowHandle()->startSystemMove()) {
          dragging_ = false;
          return true;
        }
        dragging_ = true;
        offset_ = me->globalPosition().toPoint() - target_->pos();
        return true;
      }
      case QEvent::MouseMove: {
        auto* me = static_cast<QMouseEvent*>(event);
        if (!dragging_ || !(me->buttons() & Qt::LeftButton)) break;
        QPoint to = me->globalPosition().toPoint() - offset_;
        if (!target_->isWindow() && target_->parentWidget() != nullptr) {
          // Keep the title of a child box reachable inside its parent.
          const QRect area = target_->parentWidget()->rect();
          to.setX(qBound(area.left() - target_->width() + 24, to.x(), area.right() - 24));
          to.setY(qBound(area.top(), to.y(), area.bottom() - 12));
        }
        target_->move(to);
        return true;
      }
      case QEvent::MouseButtonRelease:
        if (dragging_) {
          dragging_ = false;
          return true;
        }
        break;
      default:
        break;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  QPointer<QWidget> target_;
  bool dragging_ = false;
  QPoint offset_;
};

const char* kWindowStyle = R"(
QLabel[qmBackground="true"] {
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #2f74c0, stop:0.05 #4d94dc, stop:0.0775 #e9f1fa, stop:1 #dfeaf7);
}
QPushButton[qmKind="flat"] {
  border: 1px solid transparent; border-radius: 3px; color: #1d3f66; background: transparent; padding: 0px;
}
QPushButton[qmKind="flat"]:hover { background: rgba(255,255,255,150); border-color: #7fa9d6; }
QPushButton[qmKind="flat"]:pressed { background: rgba(160,196,236,200); }
QFrame[qmKind="frame"] { border: 1px solid #9bb8d8; border-radius: 4px; background: #f7fbff; }
QTreeView { border: 1px solid #b7cde6; background: #ffffff; }
QHeaderView::section { background: #e4eef9; border: 0px; border-right: 1px solid #c5d7ec; border-bottom: 1px solid #c5d7ec; padding: 2px 4px; }
)";

QWidget* MakeControl(const ControlLayout& c, QWidget* parent) {
  switch (c.kind) {
    case ControlKind::Label: {
      auto* label = new QLabel(Q(c.text), parent);
      // Labels show buyers' and the platform's texts: never as markup.
      label->setTextFormat(Qt::PlainText);
      if (c.height >= 36 && !c.dragsWindow && !c.text.empty()) label->setWordWrap(true);
      label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
      return label;
    }
    case ControlKind::FlatButton: {
      auto* button = new QPushButton(Q(c.text), parent);
      button->setFlat(true);
      button->setProperty("qmKind", "flat");
      button->setFocusPolicy(Qt::StrongFocus);
      return button;
    }
    case ControlKind::Frame: {
      auto* frame = new QFrame(parent);
      frame->setFrameShape(QFrame::StyledPanel);
      frame->setProperty("qmKind", "frame");
      return frame;
    }
    case ControlKind::ListView: {
      auto* list = new QTreeView(parent);
      list->setRootIsDecorated(false);
      list->setItemsExpandable(false);
      list->setUniformRowHeights(true);
      list->setAllColumnsShowFocus(true);
      // Every row in the list's own colours, without an alternate tint.
      list->setAlternatingRowColors(false);
      list->setSelectionBehavior(QAbstractItemView::SelectRows);
      list->setSelectionMode(c.multiSelect ? QAbstractItemView::ExtendedSelection
                                           : QAbstractItemView::SingleSelection);
      list->setEditTriggers(QAbstractItemView::NoEditTriggers);
      list->setContextMenuPolicy(Qt::CustomContextMenu);
      // Column titles only; the order list that shows a book's list puts its
      // own model in place with the same titles and widths.
      QStringList titles;
      for (const auto& col : c.columns) titles << Q(col.title);
      auto* columns = new QStandardItemModel(0, int(c.columns.size()), list);
      columns->setHorizontalHeaderLabels(titles);
      list->setModel(columns);
      QHeaderView* header = list->header();
      header->setFont(LayoutFont(FontFace::YaHei, 9));
      header->setStretchLastSection(false);
      header->setSectionsMovable(false);
      header->setMinimumSectionSize(0);
      for (int i = 0; i < int(c.columns.size()); ++i) {
        header->setSectionResizeMode(i, QHeaderView::Interactive);
        header->resizeSection(i, c.columns[size_t(i)].width);
      }
      return list;
    }
    case ControlKind::Edit:
      if (c.multiLine) {
        auto* edit = new QPlainTextEdit(parent);
        edit->setPlainText(Q(c.text));
        return edit;
      } else {
        auto* edit = new QLineEdit(Q(c.text), parent);
        return edit;
      }
    case ControlKind::Combo: {
      auto* combo = new QComboBox(parent);
      combo->setEditable(true);
      combo->setInsertPolicy(QComboBox::NoInsert);
      combo->setEditText(Q(c.text));
      return combo;
    }
    case ControlKind::Browser:
      return new QWebEngineView(parent);
    case ControlKind::Picture: {
      if (c.picture == PictureContent::Busy) return new BusyPicture(parent);
      auto* picture = new QLabel(parent);
      picture->setAlignment(Qt::AlignCenter);
      if (c.picture == PictureContent::ProgramIcon) picture->setPixmap(ProgramIcon().pixmap(c.width, c.height));
      return picture;
    }
    case ControlKind::Timer:
    case ControlKind::Database:
    case ControlKind::MenuSkin:
      return nullptr;
  }
  return nullptr;
}

// The font that replaces a Windows one may be wider: a text that would be
// cut at its box is drawn a little smaller, down to a size still readable.
void FitTextToBox(QWidget* w, const QString& text, bool wraps) {
  if (text.trimmed().isEmpty()) return;
  const int room = qobject_cast<QPushButton*>(w) != nullptr ? w->width() - 2 : w->contentsRect().width();
  const int height = w->contentsRect().height();
  QFont font = w->font();
  auto fits = [&](const QFont& f) {
    const QFontMetrics fm(f);
    if (wraps) return fm.boundingRect(QRect(0, 0, room, 1 << 20), Qt::TextWordWrap, text).height() <= height;
    return fm.horizontalAdvance(text) <= room;
  };
  while (!fits(font) && font.pointSizeF() > 7.0) font.setPointSizeF(font.pointSizeF() - 0.5);
  w->setFont(font);
}

}  // namespace

QFont LayoutFont(FontFace face, int points, bool bold) {
  QFont font;
  // One sans-serif face for Chinese, Latin letters and digits alike; where
  // none of these is installed, the system's own sans-serif rather than a
  // serif fallback for the Latin half.
  static const QStringList kSans = {"Noto Sans CJK SC", "Source Han Sans SC", "微软雅黑", "Microsoft YaHei",
                                    "WenQuanYi Micro Hei", "Noto Sans CJK TC"};
  font.setFamilies(kSans);
  font.setStyleHint(QFont::SansSerif);
  // The layout's 宋体 controls take it too: SimSun is not there off Windows.
  (void)face;
  font.setPointSize(points);
  font.setBold(bold);
  return font;
}

void MakeDragHandle(QWidget* handle, QWidget* target) {
  if (handle == nullptr || target == nullptr) return;
  handle->installEventFilter(new DragFilter(handle, target));
}

void BuildWindow(QWidget* window, const WindowLayout& layout) {
  window->setObjectName(Q(layout.name));
  window->setWindowTitle(layout.title.empty() ? QStringLiteral(" ") : Q(layout.title));
  window->setWindowIcon(ProgramIcon());
  window->setWindowFlag(Qt::FramelessWindowHint, true);
  window->setFixedSize(layout.width, layout.height);
  window->move(layout.left, layout.top);
  window->setFont(LayoutFont(FontFace::Song, 9));
  window->setStyleSheet(QString::fromUtf8(kWindowStyle));
  window->setAutoFillBackground(true);
  QPalette pal = window->palette();
  pal.setColor(QPalette::Window, QColor(0xe9, 0xf1, 0xfa));
  window->setPalette(pal);
  MakeDragHandle(window, window);

  std::map<std::string, QWidget*> frames;
  for (const ControlLayout& c : layout.controls) {
    if (c.kind == ControlKind::Timer) {
      auto* timer = new QTimer(window);
      timer->setObjectName(Q(c.name));
      continue;
    }
    QWidget* parent = window;
    if (!c.frame.empty()) {
      auto it = frames.find(c.frame);
      if (it != frames.end()) parent = it->second;
    }
    QWidget* w = MakeControl(c, parent);
    if (w == nullptr) continue;
    w->setObjectName(Q(c.name));
    w->setGeometry(c.left, c.top, c.width, c.height);
    w->setFont(LayoutFont(c.font, c.fontPoints, c.bold));
    if (!c.toolTip.empty()) w->setToolTip(Q(c.toolTip));
    if (c.handCursor) w->setCursor(Qt::PointingHandCursor);
    if (c.dragsWindow) {
      MakeDragHandle(w, window);
      // The label spanning the whole window is its background.
      if (c.left <= 0 && c.top <= 0 && c.width >= layout.width && c.height >= layout.height) {
        w->setProperty("qmBackground", true);
      }
    }
    if (auto* label = qobject_cast<QLabel*>(w); label != nullptr && c.kind == ControlKind::Label) {
      FitTextToBox(label, label->text(), label->wordWrap());
    } else if (c.kind == ControlKind::FlatButton) {
      FitTextToBox(w, Q(c.text), false);
    }
    if (c.kind == ControlKind::Frame) frames[c.name] = w;
    w->setVisible(c.shown);
  }

  // Buttons stay clickable where a frame box is laid over them (系统设置 lies
  // on the corner of the right list frame).
  for (QPushButton* button : window->findChildren<QPushButton*>()) button->raise();

  for (const MenuLayout& m : layout.menus) {
    auto* menu = new QMenu(window);
    menu->setObjectName(Q(m.name));
    menu->setFont(LayoutFont(FontFace::YaHei, 9));
    for (const std::string& item : m.items) {
      if (item == "-") {
        menu->addSeparator();
      } else {
        QAction* action = menu->addAction(Q(item));
        action->setObjectName(Q(item));
      }
    }
  }
}

QObject* FindControlObject(QWidget* window, const QString& name) {
  if (window == nullptr) return nullptr;
  // Breadth first through the window's own children; owned windows (dialogs,
  // menus) keep their controls to themselves.
  QList<QObject*> level = window->children();
  while (!level.isEmpty()) {
    QList<QObject*> next;
    for (QObject* o : level) {
      auto* w = qobject_cast<QWidget*>(o);
      if (w != nullptr && (w->isWindow() || qobject_cast<QMenu*>(w) != nullptr)) continue;
      if (o->objectName() == name) return o;
      next += o->children();
    }
    level = next;
  }
  return nullptr;
}

QMenu* FindMenu(QWidget* window, const QString& name) {
  if (window == nullptr) return nullptr;
  for (QMenu* menu : window->findChildren<QMenu*>(name, Qt::FindDirectChildrenOnly)) return menu;
  return nullptr;
}

QAction* FindMenuItem(QMenu* menu, const QString& text) {
  if (menu == nullptr) return nullptr;
  for (QAction* a : menu->actions()) {
    if (!a->isSeparator() && a->text() == text) return a;
  }
  return nullptr;
}

void MaskSecret(QLineEdit* box) {
  box->setEchoMode(QLineEdit::Password);
  QAction* reveal = box->addAction(box->style()->standardIcon(QStyle::SP_FileDialogContentsView),
                                   QLineEdit::TrailingPosition);
  reveal->setObjectName("显示AppSecret");
  reveal->setCheckable(true);
  reveal->setToolTip("显示AppSecret");
  QObject::connect(reveal, &QAction::toggled, box,
                   [box](bool shown) { box->setEchoMode(shown ? QLineEdit::Normal : QLineEdit::Password); });
}

}  // namespace qm
