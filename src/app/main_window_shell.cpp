// The main window's frame: the title bar (status line, kept notices, the
// alerts' count), the
// lists' titles with their counts, the size the seller gives the window and
// the keys that work on it.
#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QShortcut>
#include <QTreeView>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "app/builder.h"
#include "app/instance_channel.h"
#include "app/main_window.h"
#include "rating/seller_run.h"
#include "settings/app_session.h"
#include "settings/config.h"
#include "settings/profile.h"

namespace qm {
namespace {

// The right-hand end of the title bar's text area: the layout's gap before "─".
constexpr int kTitleGap = 8;

QRect Layout(const char* name) {
  const ControlLayout* c = MainWindowLayout().Find(name);
  return c == nullptr ? QRect() : QRect(c->left, c->top, c->width, c->height);
}

}  // namespace

void MainWindow::SetUpShell() {
  status_->setWordWrap(true);
  auto titleButton = [this](const char* name, const char* colour) {
    auto* button = new QPushButton(this);
    button->setObjectName(name);
    button->setFlat(true);
    button->setProperty("qmKind", "flat");
    button->setCursor(Qt::PointingHandCursor);
    button->setFont(LayoutFont(FontFace::YaHei, 9, true));
    button->setStyleSheet(QString("color: %1;").arg(colour));
    button->hide();
    return button;
  };
  noticesButton_ = titleButton("提醒按钮", "#ffe14d");
  connect(noticesButton_, &QPushButton::clicked, this, &MainWindow::ShowKeptNotices);
  alertListButton_ = titleButton("差评提醒按钮", "#ffb3b3");
  connect(alertListButton_, &QPushButton::clicked, this, &MainWindow::OpenAlertList);

  busyCaption_ = new QLabel(this);
  busyCaption_->setObjectName("忙碌说明");
  busyCaption_->setTextFormat(Qt::PlainText);
  busyCaption_->setAlignment(Qt::AlignCenter);
  busyCaption_->setWordWrap(true);
  busyCaption_->setFont(LayoutFont(FontFace::YaHei, 9, false));
  busyCaption_->hide();

  UpdateListTitles();

  // Esc closes the notice, as its "×" does.
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  escape->setContext(Qt::WindowShortcut);
  connect(escape, &QShortcut::activated, this, [this] {
    if (notice_->isVisible()) CloseNotice();
  });
  LayOut();
}

void MainWindow::UpdateListTitles() {
  const QString unrated = QString("双方未评价的订单（%1）").arg((run_ ? run_->Book().Unrated().RowCount() : 0));
  const QString buyerRated = QString("对方已评价，我没评价的订单（%1）").arg((run_ ? run_->Book().BuyerRated().RowCount() : 0));
  unratedTitle_->setText(unrated);
  buyerRatedTitle_->setText(buyerRated);
  // Wide enough for the count; the right-hand title ends before "系统设置".
  for (QLabel* title : {unratedTitle_, buyerRatedTitle_}) {
    const int wanted = title->fontMetrics().horizontalAdvance(title->text()) + 4;
    const int room = title == unratedTitle_
                         ? unratedFrame_->width() - title->x() - 4
                         : settingsButton_->x() - buyerRatedFrame_->x() - title->x() - 2;
    title->resize(std::max(std::min(wanted, room), 0), title->height());
  }
}

void MainWindow::SetStatus(const std::string& text) {
  statusText_ = Q(text);
  status_->setToolTip(statusText_.isEmpty() ? QString() : PlainToolTip(statusText_));
  LayOutTitleBar();
}

void MainWindow::KeepNotice(const std::string& text) {
  notices_.push_back(text);
  while (notices_.size() > kKeptNotices) notices_.pop_front();
  noticesButton_->setText(QString("%1（%2）").arg(kNoticesTitle).arg(notices_.size()));
  QString all;
  for (const std::string& notice : notices_) all += (all.isEmpty() ? "" : "\n") + Q(notice);
  noticesButton_->setToolTip(PlainToolTip(all));
  noticesButton_->show();
  LayOutTitleBar();
}

void MainWindow::ShowKeptNotices() {
  if (notices_.empty()) return;
  std::string all;
  for (const std::string& notice : notices_) all += (all.empty() ? "" : "\n\n") + notice;
  prompts_.Information(kNoticesTitle, all);
  notices_.clear();
  noticesButton_->hide();
  LayOutTitleBar();
}

void MainWindow::LayOutTitleBar() {
  const int right = width();
  const int dx = right - MainWindowLayout().width;
  const QRect close = Layout("超级按钮1"), minimise = Layout("超级按钮2");
  closeButton_->move(close.x() + dx, close.y());
  minimiseButton_->move(minimise.x() + dx, minimise.y());
  int end = minimiseButton_->x() - 2;
  for (QPushButton* button : {noticesButton_, alertListButton_}) {
    if (button->isHidden()) continue;
    const int w = button->fontMetrics().horizontalAdvance(button->text()) + 12;
    button->setGeometry(end - w, minimise.y(), w, minimise.height());
    end = button->x() - 4;
  }
  // The title keeps the width of its text; the status line has the rest.
  const QRect title = Layout("标签5"), status = Layout("标签3");
  const int titleWidth = std::min(title_->fontMetrics().horizontalAdvance(title_->text()) + 4, end - title.x());
  title_->setGeometry(title.x(), title.y(), std::max(titleWidth, 0), title.height());
  const int left = std::min(title.x() + titleWidth + kTitleGap, status.x());
  // Two lines of the title bar's height when one is not enough; elided only
  // beyond that.
  const QFontMetrics fm = status_->fontMetrics();
  const int width = std::max(end - left, 0);
  const int lines = fm.horizontalAdvance(statusText_) <= width ? 1 : 2;
  auto needed = [&](const QString& text, int w) {
    return fm.boundingRect(QRect(0, 0, w, 1 << 20), Qt::TextWordWrap, text).height();
  };
  const int height = std::max(status.height(), lines == 1 ? needed("国", 1 << 20) : needed("国国", 1));
  const int middle = status.y() + status.height() / 2;
  status_->setGeometry(left, std::max(middle - height / 2, 0), width, height);
  QString shown = statusText_;
  for (int room = width * lines; needed(shown, width) > height && room > 0; room -= fm.averageCharWidth()) {
    shown = fm.elidedText(statusText_, Qt::ElideRight, room);
  }
  status_->setText(shown);
}

void MainWindow::ShowBusy(const std::string& doing) {
  busyCaption_->setText(Q(doing));
  busy_->setVisible(!doing.empty());
  busyCaption_->setVisible(!doing.empty());
  if (!doing.empty()) busyCaption_->raise();
}

void MainWindow::LayOut() {
  const WindowLayout& layout = MainWindowLayout();
  const int dw = std::max(width() - layout.width, 0), dh = std::max(height() - layout.height, 0);
  const QRect left = Layout("外形框1"), right = Layout("外形框2");
  // Both lists grow, in the proportion of their layout widths.
  const int leftGrowth = dw * left.width() / (left.width() + right.width());
  unratedFrame_->setGeometry(left.x(), left.y(), left.width() + leftGrowth, left.height() + dh);
  buyerRatedFrame_->setGeometry(right.x() + leftGrowth, right.y(), right.width() + dw - leftGrowth,
                                right.height() + dh);
  const QRect list1 = Layout("超级列表框1"), list2 = Layout("超级列表框2");
  unratedView_->setGeometry(list1.x(), list1.y(), list1.width() + leftGrowth, list1.height() + dh);
  buyerRatedView_->setGeometry(list2.x(), list2.y(), list2.width() + dw - leftGrowth, list2.height() + dh);
  const QRect settings = Layout("超级按钮4");
  settingsButton_->move(settings.x() + dw, settings.y());
  const QRect busy = Layout("图片框2");
  busy_->move(busy.x() + leftGrowth / 2, busy.y() + dh / 2);
  // The caption is centred under the picture, as wide as the left list allows.
  const int captionWidth = std::min(2 * busy.width() + 80, list1.width() + leftGrowth);
  busyCaption_->setGeometry(busy_->x() + busy.width() / 2 - captionWidth / 2, busy_->y() + busy.height() + 4,
                            captionWidth, 2 * busyCaption_->fontMetrics().lineSpacing() + 4);
  if (QWidget* background = FindControl(this, "标签4")) background->setGeometry(0, 0, width(), height());
  LayOutTitleBar();
  UpdateListTitles();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  LayOut();
}

void MainWindow::RestoreSize() {
  const std::string text = ReadProfileString(ConfigPath(session_.programDir), session_.sellerNick, kKeyWindowSize);
  const std::size_t comma = text.find(',');
  if (comma == std::string::npos) return;
  const int w = std::atoi(text.substr(0, comma).c_str()), h = std::atoi(text.substr(comma + 1).c_str());
  // A size from another screen is kept within this one's reach.
  if (w <= 0 || h <= 0 || w > 10000 || h > 10000) return;
  resize(std::max(w, minimumWidth()), std::max(h, minimumHeight()));
}

void MainWindow::RememberSize() {
  const std::string& nick = session_.sellerNick;
  if (nick.empty() || isMinimized() || isMaximized() || isFullScreen()) return;
  // A size alone must not make a section: an account is in Config.ini once it is set up.
  if (!AccountIsSetUp(session_.programDir, nick)) return;
  const std::string text = std::to_string(width()) + "," + std::to_string(height());
  if (ReadProfileString(ConfigPath(session_.programDir), nick, kKeyWindowSize) == text) return;
  WriteProfileString(ConfigPath(session_.programDir), nick, kKeyWindowSize, text);
}

void MainWindow::ListenForLaterStarts() {
  if (channel_ == nullptr) channel_ = new InstanceChannel(this);
  const QString name = InstanceSocketName(session_.programDir, session_.sellerNick);
  const ChannelOutcome outcome = channel_->Listen(name, [this] {
    // During the start-up the login window is the one to see.
    if (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr && modal != this) {
      modal->raise();
      modal->activateWindow();
    } else {
      BringToFront();
    }
  });
  // The run goes on without the channel; the seller is told why a later
  // start cannot reach it.
  if (outcome == ChannelOutcome::OtherUser) {
    const std::string text = InstanceChannel::OtherUserText(name);
    std::fprintf(stderr, "quillmere: %s\n", text.c_str());
    KeepNotice(text);
  }
}

}  // namespace qm
