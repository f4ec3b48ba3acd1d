// The main window's side of the buyers' alerts: a burst of them announced
// once, their unseen count in the title bar, the window title, the tray menu
// and tip, and the alert list, whose alerts lead to their orders.
#include <QAction>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <algorithm>

#include "alerts/alert_outbox.h"
#include "app/alert_list_window.h"
#include "app/builder.h"
#include "app/layout.h"
#include "app/main_window.h"
#include "platform/platform_link.h"
#include "rating/run_texts.h"
#include "rating/seller_run.h"
#include "settings/app_session.h"

namespace qm {

void MainWindow::OpenOutbox() {
  const std::string& nick = session_.sellerNick;
  outbox_ = std::make_unique<AlertOutbox>(
      pump_, session_.link->Clock(), nick, ReadAlertSettings(session_.programDir, nick),
      [this](const AlertEvent& event) {
        // A send that is tried again is told once; what became of it is told too.
        if (event.kind != AlertEvent::Kind::Retrying || event.tries == 1) SetStatus(AlertEventText(event));
      },
      AlertOutbox::Options{});
  if (std::string why; !outbox_->Open(session_.PathOf(RatingLogFileName(nick)), &why))
    SetStatus("提醒的发送记录无法保存：" + why);
  summaryTimer_ = new QTimer(this);
  connect(summaryTimer_, &QTimer::timeout, this, [this] {
    if (outbox_) outbox_->CheckSummary();
  });
  summaryTimer_->start(60 * 1000);
  outbox_->CheckSummary();
}

void MainWindow::Alert(const Order& order, const BuyerVerdict& verdict) {
  if (outbox_) outbox_->Raise({order.tid, order.buyerNick, verdict.result, verdict.comment, {}});
  if (alertsToAnnounce_.empty()) alertBurstAge_.start();
  alertsToAnnounce_.push_back(BuyerAlert{order.tid, order.buyerNick, verdict.result, verdict.comment, {}});
  // Each alert of a burst waits for the next; a long trickle is still told
  // of within kAlertBurstLongestMs.
  const qint64 left = kAlertBurstLongestMs - alertBurstAge_.elapsed();
  alertBurst_->start(static_cast<int>(std::clamp<qint64>(left, 0, kAlertBurstQuietMs)));
  UpdateAlertCount();
  if (alertWindow_) alertWindow_->Reload();
}

void MainWindow::AnnounceAlerts() {
  const std::string text = AlertsText(alertsToAnnounce_);
  alertsToAnnounce_.clear();
  if (text.empty()) return;
  // The balloon goes in seconds; the status line and the count stay.
  SetStatus(std::string(kAlertTitle) + "：" + text);
  if (TrayUsable()) {
    // Some notification servers render body markup; a buyer writes the text.
    tray_->showMessage(QString::fromUtf8(kAlertTitle), Q(text).toHtmlEscaped(), QSystemTrayIcon::Warning);
    lastBalloonAlerts_ = true;
  }
}

void MainWindow::UpdateAlertCount() {
  const int unseen = run_ ? run_->Alerts().UnseenCount() : 0;
  const QString counted = QString("%1（%2）").arg(kAlertTitle).arg(unseen);
  alertListButton_->setText(counted);
  alertListButton_->setToolTip(unseen > 0 ? QString("%1 条中评或差评还没有看过，点击查看").arg(unseen) : QString());
  alertListButton_->setVisible(unseen > 0);
  alertListItem_->setText(unseen > 0 ? counted : QString::fromUtf8(kAlertTitle));
  // The task bar shows the count while the window is in the tray or minimised.
  const QString title = Q(MainWindowLayout().title);
  setWindowTitle(unseen > 0 ? title + QString("（%1 条差评提醒未读）").arg(unseen) : title);
  if (run_ && tray_->isVisible()) UpdateTrayTip();
  LayOutTitleBar();
}

void MainWindow::UpdateTrayTip() {
  if (!run_) return;
  std::string tip = "Quillmere — " + session_.sellerNick + "\n等待评价的订单：" +
                    std::to_string(run_->Book().Unrated().RowCount());
  if (const int unseen = run_->Alerts().UnseenCount(); unseen > 0) tip += "\n未读差评提醒：" + std::to_string(unseen);
  tray_->setToolTip(Q(tip));
}

void MainWindow::OpenAlertList() {
  if (!run_) return;
  if (!alertWindow_) {
    alertWindow_ = new AlertListWindow(
        run_->Alerts(),
        [this](const std::string& tid, bool toFront) {
          if (SelectBuyerRatedOrder(tid) && toFront) {
            BringToFront();
            // The list stays in front of the window it belongs to.
            if (alertWindow_) alertWindow_->raise();
          }
        },
        [this](bool stored) {
          UpdateAlertCount();
          if (!stored) SetStatus("差评提醒的已读状态无法保存，下次启动时会再次显示：" + run_->Log().LastError());
        },
        this);
    alertWindow_->setAttribute(Qt::WA_DeleteOnClose);
  }
  alertWindow_->show();
  alertWindow_->raise();
  alertWindow_->activateWindow();
}

bool MainWindow::SelectBuyerRatedOrder(const std::string& tid) {
  if (!run_ || !buyerRatedList_) return false;
  const int row = run_->Book().BuyerRated().Find(tid);
  QAbstractItemModel* model = buyerRatedView_->model();
  if (row < 0 || model == nullptr || row >= model->rowCount()) {
    SetStatus("订单 " + tid + " 已不在“对方已评价”的列表中（已回评或已离开列表）");
    return false;
  }
  const QModelIndex index = model->index(row, 0);
  buyerRatedView_->selectionModel()->setCurrentIndex(
      index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  buyerRatedView_->scrollTo(index);
  return true;
}

}  // namespace qm
