#pragma once
// The program's pictures, drawn in code: the program icon (the 32 x 32 picture
// of every window's title strip), the tray icon and the animated busy picture
// shown while the first load runs.
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QTimer>
#include <vector>

namespace qm {

QIcon ProgramIcon();
// The program icon at `size` pixels square, as the installed icon theme holds it.
QImage ProgramIconImage(int size);
QIcon TrayIcon();

// A looping animation of twelve frames (a ring of dots turning), drawn in code
// at the widget's size. It only runs while the widget is visible.
class BusyPicture : public QLabel {
  Q_OBJECT
 public:
  static constexpr int kFrames = 12;
  static constexpr int kFrameMs = 80;

  explicit BusyPicture(QWidget* parent = nullptr);
  int CurrentFrame() const { return frame_; }
  bool Running() const { return timer_.isActive(); }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Advance();
  void RenderFrames();

  QTimer timer_;
  std::vector<QPixmap> frames_;
  int frame_ = 0;
};

}  // namespace qm
