#include "app/frame_grips.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <vector>

namespace qm {
namespace {

// How far into the window an edge can be taken hold of.
constexpr int kGrip = 5;

// One edge or corner of the window.
class EdgeGrip : public QWidget {
 public:
  EdgeGrip(QWidget* window, Qt::Edges edges) : QWidget(window), edges_(edges) {
    setObjectName("窗口边缘");
    const bool horizontal = edges & (Qt::LeftEdge | Qt::RightEdge);
    const bool vertical = edges & (Qt::TopEdge | Qt::BottomEdge);
    const bool falling = edges == (Qt::LeftEdge | Qt::TopEdge) || edges == (Qt::RightEdge | Qt::BottomEdge);
    setCursor(horizontal && vertical ? (falling ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor)
              : horizontal           ? Qt::SizeHorCursor
                                     : Qt::SizeVerCursor);
  }
  Qt::Edges Edges() const { return edges_; }

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    QWidget* w = window();
    // The window manager resizes with its own feedback where it can.
    if (w->windowHandle() != nullptr && !w->isMaximized() && w->windowHandle()->startSystemResize(edges_)) {
      holding_ = false;
      return;
    }
    holding_ = !w->isMaximized();
    from_ = event->globalPosition().toPoint();
    start_ = w->geometry();
  }
  void mouseMoveEvent(QMouseEvent* event) override {
    if (!holding_ || !(event->buttons() & Qt::LeftButton)) return;
    QWidget* w = window();
    const QPoint d = event->globalPosition().toPoint() - from_;
    QRect g = start_;
    const QSize least = w->minimumSize();
    if (edges_ & Qt::LeftEdge) g.setLeft(std::min(start_.left() + d.x(), start_.right() - least.width() + 1));
    if (edges_ & Qt::RightEdge) g.setRight(std::max(start_.right() + d.x(), start_.left() + least.width() - 1));
    if (edges_ & Qt::TopEdge) g.setTop(std::min(start_.top() + d.y(), start_.bottom() - least.height() + 1));
    if (edges_ & Qt::BottomEdge) g.setBottom(std::max(start_.bottom() + d.y(), start_.top() + least.height() - 1));
    w->setGeometry(g);
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    holding_ = false;
    QWidget::mouseReleaseEvent(event);
  }

 private:
  const Qt::Edges edges_;
  bool holding_ = false;
  QPoint from_;
  QRect start_;
};

std::vector<EdgeGrip*> Grips(QWidget* window) {
  std::vector<EdgeGrip*> grips;
  for (QObject* child : window->children())
    if (auto* grip = dynamic_cast<EdgeGrip*>(child)) grips.push_back(grip);
  return grips;
}

// Keeps the grips on the edges and on top, and maximises on a double-click
// in the title strip (on the window or on a label of it).
class FrameFilter : public QObject {
 public:
  FrameFilter(QWidget* window, int titleHeight) : QObject(window), window_(window), titleHeight_(titleHeight) {}

  void Place() {
    const int w = window_->width(), h = window_->height();
    for (EdgeGrip* grip : Grips(window_)) {
      const Qt::Edges e = grip->Edges();
      const int x = (e & Qt::LeftEdge) ? 0 : (e & Qt::RightEdge) ? w - kGrip : kGrip;
      const int y = (e & Qt::TopEdge) ? 0 : (e & Qt::BottomEdge) ? h - kGrip : kGrip;
      const int gw = (e & (Qt::LeftEdge | Qt::RightEdge)) ? kGrip : w - 2 * kGrip;
      const int gh = (e & (Qt::TopEdge | Qt::BottomEdge)) ? kGrip : h - 2 * kGrip;
      grip->setGeometry(x, y, gw, gh);
      // No grips on a maximised window: its edges are the screen's.
      grip->setVisible(!window_->isMaximized());
      grip->raise();
    }
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (window_.isNull()) return false;
    switch (event->type()) {
      case QEvent::Resize:
      case QEvent::WindowStateChange:
      case QEvent::ChildAdded:
        if (watched == window_) Place();
        break;
      case QEvent::MouseButtonDblClick: {
        auto* me = static_cast<QMouseEvent*>(event);
        auto* widget = qobject_cast<QWidget*>(watched);
        if (me->button() != Qt::LeftButton || widget == nullptr) break;
        if (widget->mapTo(window_, me->position().toPoint()).y() >= titleHeight_) break;
        window_->isMaximized() ? window_->showNormal() : window_->showMaximized();
        return true;
      }
      default:
        break;
    }
    return false;
  }

 private:
  QPointer<QWidget> window_;
  const int titleHeight_;
};

}  // namespace

void MakeResizable(QWidget* window, int titleHeight) {
  if (window == nullptr) return;
  for (Qt::Edges e : {Qt::Edges(Qt::LeftEdge), Qt::Edges(Qt::RightEdge), Qt::Edges(Qt::TopEdge),
                      Qt::Edges(Qt::BottomEdge), Qt::LeftEdge | Qt::TopEdge, Qt::RightEdge | Qt::TopEdge,
                      Qt::LeftEdge | Qt::BottomEdge, Qt::RightEdge | Qt::BottomEdge}) {
    new EdgeGrip(window, e);
  }
  auto* filter = new FrameFilter(window, titleHeight);
  window->installEventFilter(filter);
  // A double-click on the labels of the title strip reaches them, not the window.
  for (QWidget* child : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (child->geometry().top() < titleHeight && dynamic_cast<EdgeGrip*>(child) == nullptr &&
        child->inherits("QLabel"))
      child->installEventFilter(filter);
  }
  filter->Place();
}

}  // namespace qm
