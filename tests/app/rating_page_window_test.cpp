// The rating-page window: its start page, pageEdited after each close button
// and after any other way of closing, and the navigation buttons against the
// sandbox marketplace's rating page.
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QWebEngineHistory>
#include <QWebEngineView>
#include <QtTest>
#include <functional>

#include "app/builder.h"
#include "app/rating_page_window.h"
#include "app_test_support.h"
#include "support/sandbox_process.h"

using namespace qm;
using namespace qm::test;

namespace {

// A base nothing listens on: the page load fails, the window works all the same.
const char* kDeadBase = "http://127.0.0.1:9";

// Opens the window as the callers do; `act` runs inside its modal loop.
// Returns what OpenRatingPageWindow returned.
int WithRatingPage(AppSession& session, QWidget* owner, const std::function<void(RatingPageWindow*)>& act,
                   const std::string& url = {}) {
  QTimer::singleShot(0, owner, [&] {
    auto* window = qobject_cast<RatingPageWindow*>(QApplication::activeModalWidget());
    QVERIFY(window != nullptr);
    act(window);
  });
  QTimer::singleShot(20000, owner, [] {  // never hang a test
    if (QWidget* w = QApplication::activeModalWidget()) w->close();
  });
  return OpenRatingPageWindow(session, owner, url);
}

void Click(RatingPageWindow* w, const char* name) { Control<QPushButton>(w, QString::fromUtf8(name))->click(); }

// Waits for the view to finish a load; true when it loaded.
bool WaitForLoad(QSignalSpy& spy) {
  if (!spy.wait(15000) && spy.isEmpty()) return false;
  const bool ok = spy.takeFirst().at(0).toBool();
  spy.clear();
  return ok;
}

}  // namespace

class RatingPageWindowTest : public QObject {
  Q_OBJECT
  AppSession session_;

 private slots:
  void init() {
    session_ = AppSession();
    session_.sellerNick = "评价卖家";
    session_.endpoints = Endpoints::AtBase(kDeadBase);
  }

  void opensTheRatingPageOfTheRatingHost() {
    QCOMPARE(RatingStartPage(session_.endpoints), std::string("http://127.0.0.1:9/myRate.htm"));
    session_.endpoints = Endpoints();
    QCOMPARE(RatingStartPage(session_.endpoints), std::string("https://rate.taobao.com/myRate.htm"));
    session_.endpoints = Endpoints::AtBase(kDeadBase);

    QWidget owner;
    WithRatingPage(session_, &owner, [&](RatingPageWindow* w) {
      QCOMPARE(w->objectName(), QString("RatingPageWindow"));
      QCOMPARE(w->windowTitle(), QString("评价修改窗口"));
      QVERIFY(w->isModal());
      QCOMPARE(w->parentWidget(), &owner);
      QCOMPARE(Control<QLabel>(w, "标签1")->text(), QString("评价卖家"));
      QCOMPARE(w->StartUrl(), QUrl("http://127.0.0.1:9/myRate.htm"));
      QTRY_COMPARE(w->View()->url(), QUrl("http://127.0.0.1:9/myRate.htm"));
      w->close();
    });
  }

  void modifiedCloseSetsPageEdited() {
    QWidget owner;
    session_.pageEdited = 0;
    QCOMPARE(WithRatingPage(session_, &owner, [](RatingPageWindow* w) { Click(w, "超级按钮3"); }), 1);
    QCOMPARE(session_.pageEdited, 1);
    // Nobody resets it: a second "修改完关闭" keeps 1.
    QCOMPARE(WithRatingPage(session_, &owner, [](RatingPageWindow* w) { Click(w, "超级按钮3"); }), 1);
  }

  void unmodifiedCloseClearsPageEdited() {
    QWidget owner;
    session_.pageEdited = 1;
    bool closed = false;
    QCOMPARE(WithRatingPage(session_, &owner,
                            [&](RatingPageWindow* w) {
                              Click(w, "超级按钮4");
                              closed = !w->isVisible();
                            }),
             0);
    QVERIFY(closed);
    QCOMPARE(session_.pageEdited, 0);
  }

  void closingAnyOtherWayLeavesPageEditedAsItWas() {
    QWidget owner;
    for (int before : {0, 1}) {
      session_.pageEdited = before;
      QCOMPARE(WithRatingPage(session_, &owner, [](RatingPageWindow* w) { w->close(); }), before);
      QCOMPARE(WithRatingPage(session_, &owner,
                              [](RatingPageWindow* w) {
                                QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                                QApplication::sendEvent(w, &esc);
                              }),
               before);
      QCOMPARE(session_.pageEdited, before);
    }
  }

  void navigationButtonsDriveTheBrowser() {
    Sandbox sandbox;
    QVERIFY(sandbox.Ok());
    session_.endpoints = Endpoints::AtBase(sandbox.BaseUrl());
    const QUrl start(QString::fromStdString(sandbox.BaseUrl() + "/myRate.htm"));
    const QUrl other(QString::fromStdString(sandbox.BaseUrl() + "/myRate.htm?msg=second"));
    QWidget owner;
    session_.pageEdited = 1;
    const int result = WithRatingPage(session_, &owner, [&](RatingPageWindow* w) {
      QWebEngineView* view = w->View();
      QSignalSpy loads(view, &QWebEngineView::loadFinished);
      QVERIFY(WaitForLoad(loads));
      QCOMPARE(view->url(), start);

      // A fresh window has no history: "返回上页" does nothing.
      Click(w, "超级按钮1");
      QTest::qWait(300);
      QCOMPARE(view->url(), start);
      QCOMPARE(view->history()->count(), 1);

      view->load(other);
      QVERIFY(WaitForLoad(loads));
      Click(w, "超级按钮1");
      QVERIFY(WaitForLoad(loads));
      QCOMPARE(view->url(), start);
      Click(w, "超级按钮2");
      QVERIFY(WaitForLoad(loads));
      QCOMPARE(view->url(), other);

      Click(w, "超级按钮6");
      QVERIFY(WaitForLoad(loads));
      QCOMPARE(view->url(), other);

      // "评价主页" is a fresh navigation: it adds to the history.
      Click(w, "超级按钮5");
      QVERIFY(WaitForLoad(loads));
      QCOMPARE(view->url(), start);
      QCOMPARE(view->history()->count(), 3);

      Click(w, "超级按钮7");  // nothing loading: no effect
      QCOMPARE(view->url(), start);
      Click(w, "超级按钮4");
    });
    QCOMPARE(result, 0);
  }
};

int main(int argc, char** argv) {
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  RatingPageWindowTest test;
  return QTest::qExec(&test, argc, argv);
}
#include "rating_page_window_test.moc"
