#include "app/icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace qm {
namespace {

// A rounded blue tile with a white quill crossing a check mark. Drawn on an
// image, so that the build can draw the installed icon without a display.
QImage DrawProgramIcon(int size, bool tray) {
  QImage pm(size, size, QImage::Format_ARGB32_Premultiplied);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 32.0, size / 32.0);
  QLinearGradient bg(0, 0, 0, 32);
  bg.setColorAt(0, tray ? QColor(0x2e, 0x9b, 0x5e) : QColor(0x3a, 0x8d, 0xe0));
  bg.setColorAt(1, tray ? QColor(0x1c, 0x6b, 0x3e) : QColor(0x1d, 0x5c, 0xa8));
  p.setPen(Qt::NoPen);
  p.setBrush(bg);
  p.drawRoundedRect(QRectF(1, 1, 30, 30), 7, 7);

  // The quill: a leaf-shaped vane from the lower left to the upper right.
  QPainterPath vane;
  vane.moveTo(8, 25);
  vane.cubicTo(10, 14, 17, 7, 27, 5);
  vane.cubicTo(24, 13, 18, 21, 8, 25);
  p.setBrush(QColor(255, 255, 255, 235));
  p.drawPath(vane);
  p.setPen(QPen(QColor(0x1d, 0x5c, 0xa8), 1.2));
  p.drawLine(QPointF(8, 25), QPointF(22, 11));

  // The check mark of a given rating.
  p.setPen(QPen(QColor(0xff, 0xc8, 0x3a), 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  QPainterPath check;
  check.moveTo(15, 23);
  check.lineTo(19, 27);
  check.lineTo(27, 17);
  p.drawPath(check);
  p.end();
  return pm;
}

QIcon MakeIcon(bool tray) {
  QIcon icon;
  for (int s : {16, 24, 32, 48, 64}) icon.addPixmap(QPixmap::fromImage(DrawProgramIcon(s, tray)));
  return icon;
}

}  // namespace

QImage ProgramIconImage(int size) { return DrawProgramIcon(size, false); }

QIcon ProgramIcon() {
  static const QIcon icon = MakeIcon(false);
  return icon;
}

QIcon TrayIcon() {
  static const QIcon icon = MakeIcon(true);
  return icon;
}

BusyPicture::BusyPicture(QWidget* parent) : QLabel(parent) {
  setAlignment(Qt::AlignCenter);
  setAttribute(Qt::WA_TranslucentBackground);
  timer_.setInterval(kFrameMs);
  connect(&timer_, &QTimer::timeout, this, &BusyPicture::Advance);
}

void BusyPicture::RenderFrames() {
  frames_.clear();
  const int side = qMax(8, qMin(width(), height()));
  const double radius = side * 0.36;
  const double dot = side * 0.075;
  for (int f = 0; f < kFrames; ++f) {
    QPixmap pm(side, side);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawEllipse(QPointF(side / 2.0, side / 2.0), side * 0.48, side * 0.48);
    for (int i = 0; i < kFrames; ++i) {
      // The dot `f` is the head; the ones behind it fade out.
      const int age = (f - i + kFrames) % kFrames;
      const double angle = 2.0 * M_PI * i / kFrames - M_PI / 2.0;
      QColor c(0x2a, 0x7a, 0xd4);
      c.setAlphaF(qMax(0.12, 1.0 - age / double(kFrames - 2)));
      p.setBrush(c);
      const double r = dot * (age == 0 ? 1.25 : 1.0);
      p.drawEllipse(QPointF(side / 2.0 + radius * std::cos(angle), side / 2.0 + radius * std::sin(angle)), r, r);
    }
    frames_.push_back(pm);
  }
  frame_ %= kFrames;
  setPixmap(frames_[frame_]);
}

void BusyPicture::Advance() {
  if (frames_.empty()) RenderFrames();
  frame_ = (frame_ + 1) % kFrames;
  setPixmap(frames_[frame_]);
}

void BusyPicture::showEvent(QShowEvent* event) {
  QLabel::showEvent(event);
  if (frames_.empty()) RenderFrames();
  timer_.start();
}

void BusyPicture::hideEvent(QHideEvent* event) {
  timer_.stop();
  QLabel::hideEvent(event);
}

void BusyPicture::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  RenderFrames();
}

}  // namespace qm
