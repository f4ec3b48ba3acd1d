#pragma once
// The rating-page window "评价修改窗口": the marketplace's own page of the
// seller's ratings in an embedded browser, with back, forward, refresh, stop
// and a fresh navigation to the start page, and two ways to close it that tell
// the caller whether the user changed a rating (Session().pageEdited). Closing
// it any other way leaves pageEdited as it was.
#include <QDialog>
#include <QUrl>
#include <string>

class QWebEngineView;

namespace qm {

// The start page: the rating host + "/myRate.htm", plain HTTP on the public
// host, the sandbox base with --platform.
std::string RatingStartPage();

class RatingPageWindow : public QDialog {
  Q_OBJECT
 public:
  // Opens `url`, or the start page when it is empty.
  explicit RatingPageWindow(QWidget* owner = nullptr, const std::string& url = {});

  QWebEngineView* View() const { return view_; }
  const QUrl& StartUrl() const { return start_; }

 private:
  void CloseWith(int edited);

  QWebEngineView* view_ = nullptr;
  QUrl start_;
};

// Shows a fresh RatingPageWindow modally, owned by `owner`, and returns
// Session().pageEdited once it has been closed.
int OpenRatingPageWindow(QWidget* owner, const std::string& url = "");

}  // namespace qm
