#pragma once
// The rating-page window "评价修改窗口": the marketplace's own page of the
// seller's ratings in an embedded browser, with back, forward, refresh, stop
// and a fresh navigation to the start page, and two ways to close it that tell
// the caller whether the user changed a rating (the start-up record's pageEdited). Closing
// it any other way leaves pageEdited as it was.
#include <QDialog>
#include <QUrl>
#include <string>

#include "settings/app_session.h"

class QWebEngineView;

namespace qm {

// The start page: the rating host + "/myRate.htm", plain HTTP on the public
// host, the sandbox base with --platform.
std::string RatingStartPage(const Endpoints& endpoints);

class RatingPageWindow : public QDialog {
  Q_OBJECT
 public:
  // Opens `url`, or the start page when it is empty; the seller and the
  // endpoints are the start-up record's, which hears how the window closed.
  RatingPageWindow(AppSession& session, QWidget* owner = nullptr, const std::string& url = {});

  QWebEngineView* View() const { return view_; }
  const QUrl& StartUrl() const { return start_; }

 private:
  void CloseWith(int edited);

  AppSession& session_;
  QWebEngineView* view_ = nullptr;
  QUrl start_;
};

// Shows a fresh RatingPageWindow modally, owned by `owner`, and returns
// session.pageEdited once it has been closed.
int OpenRatingPageWindow(AppSession& session, QWidget* owner, const std::string& url = "");

}  // namespace qm
