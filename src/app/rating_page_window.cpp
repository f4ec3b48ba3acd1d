#include "app/rating_page_window.h"

#include <QLabel>
#include <QPushButton>
#include <QWebEngineView>

#include "app/builder.h"
#include "settings/app_session.h"

namespace qm {

std::string RatingStartPage(const Endpoints& endpoints) { return endpoints.rating + "/myRate.htm"; }

RatingPageWindow::RatingPageWindow(AppSession& session, QWidget* owner, const std::string& url)
    : QDialog(owner), session_(session) {
  BuildWindow(this, RatingPageWindowLayout());
  setModal(true);
  Control<QLabel>(this, "标签1")->setText(Q(session_.sellerNick));
  view_ = Control<QWebEngineView>(this, "超文本浏览框1");
  start_ = QUrl(Q(url.empty() ? RatingStartPage(session_.endpoints) : url));

  for (QPushButton* button : findChildren<QPushButton*>()) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
  auto on = [this](const char* name, auto action) {
    connect(Control<QPushButton>(this, QString::fromUtf8(name)), &QPushButton::clicked, this, action);
  };
  // "评价主页" is a fresh navigation to the start page, not the browser's home.
  on("超级按钮5", [this] { view_->load(start_); });
  on("超级按钮6", [this] { view_->reload(); });
  on("超级按钮7", [this] { view_->stop(); });
  on("超级按钮1", [this] { view_->back(); });
  on("超级按钮2", [this] { view_->forward(); });
  on("超级按钮4", [this] { CloseWith(0); });
  on("超级按钮3", [this] { CloseWith(1); });

  view_->load(start_);
}

void RatingPageWindow::CloseWith(int edited) {
  session_.pageEdited = edited;
  accept();
}

int OpenRatingPageWindow(AppSession& session, QWidget* owner, const std::string& url) {
  RatingPageWindow window(session, owner, url);
  window.exec();
  return session.pageEdited;
}

}  // namespace qm
