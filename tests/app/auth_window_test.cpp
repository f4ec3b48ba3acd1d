// The login window end to end: the desktop's start-up without a confirmed
// session key against the sandbox marketplace, with the test as the user who
// types into the platform's page.
#include <sys/stat.h>

#include <QApplication>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QPointer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QtTest>

#include <functional>
#include <nlohmann/json.hpp>

#include "app/auth_window.h"
#include "app/builder.h"
#include "app/main_window.h"
#include "app_test_support.h"
#include "browser/document_driver.h"
#include "browser/webengine/page_bridge.h"
#include "rating/seller_run.h"
#include "settings/config.h"
#include "support/sandbox_process.h"
#include "util/event_pump.h"

using namespace qm;
using namespace qm::test;

namespace {

QWidget* VisibleWindow(const char* name) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == name && w->isVisible()) return w;
  return nullptr;
}

// The user: steps run one after the other from a timer, each polled until it
// says it is done. When the steps take too long, the login window is closed
// so that the start-up ends and the test can report where it stood.
class User : public QObject {
 public:
  using Step = std::function<bool()>;
  explicit User(std::vector<std::pair<const char*, Step>> steps) : steps_(std::move(steps)) {
    connect(&poll_, &QTimer::timeout, this, [this] { Tick(); });
    poll_.start(50);
    clock_.start();
  }
  bool Finished() const { return next_ >= steps_.size(); }
  QString Where() const { return Finished() ? QString("done") : QString(steps_[next_].first); }

 private:
  void Tick() {
    if (Finished()) return poll_.stop();
    if (clock_.elapsed() > 60000) {
      poll_.stop();
      if (QWidget* auth = VisibleWindow("AuthWindow")) Control<QPushButton>(auth, "超级按钮1")->click();
      return;
    }
    if (busy_) return;  // a step waits inside itself
    busy_ = true;
    const bool done = steps_[next_].second();
    busy_ = false;
    if (done) ++next_;
  }
  std::vector<std::pair<const char*, Step>> steps_;
  std::size_t next_ = 0;
  bool busy_ = false;
  QTimer poll_;
  QElapsedTimer clock_;
};

// The test's own hands on the login window's page.
struct Hands {
  QPointer<QWebEnginePage> page;
  QPointer<PageBridge> bridge;  // a child of the page
  QtEventPump pump;
  DocumentDriver driver{pump};
  QWebEngineView* view = nullptr;

  bool Reach() {
    QWidget* auth = VisibleWindow("AuthWindow");
    if (auth == nullptr) return false;
    view = Control<QWebEngineView>(auth, "超文本浏览框1");
    if (page != view->page() || !bridge) {
      page = view->page();
      bridge = new PageBridge(page);
    }
    return driver.Attach(bridge->BrowserObject()) && driver.GetDocument().ReadText("readyState") == "complete";
  }
  // The page has loaded and holds the element (not the blank page before it).
  bool Shows(const std::string& selector, const std::string& tag) {
    ComObject element;
    return Reach() && driver.FindElement(selector, &element, tag, false, 0, true);
  }
  QString Url() const { return view ? view->url().toString() : QString(); }
  bool FormShown() {
    ComObject form;
    return driver.FindElement("id=J_StaticForm", &form, "div", false, 0, true) && driver.Show(form);
  }
  std::string Focused() { return driver.GetDocument().ReadObject("activeElement").ReadText("id"); }
  void LogIn(const std::string& nick, const std::string& password) {
    driver.SetInputValue("id=TPL_username_1", nick);
    driver.SetInputValue("id=TPL_password_1", password);
    driver.ClickElement("id=J_SubmitStatic", "button");
  }
};

// A Config.ini with the seller's key and secret, and a session key when given.
void WriteAccount(const ProgramDir& dir, const nlohmann::json& seller, const std::string& sessionKey = {}) {
  std::string ini = "[" + seller["nick"].get<std::string>() + "]\r\nappkey=" + seller["app_key"].get<std::string>() +
                    "\r\nAppSecret=" + seller["app_secret"].get<std::string>() + "\r\n";
  if (!sessionKey.empty()) ini += "SessionKey=" + sessionKey + "\r\n";
  WriteFileBytes(dir.File("Config.ini"), Utf8ToGbk(ini));
}


}  // namespace

class AuthWindowTest : public QObject {
  Q_OBJECT
 private:
  std::unique_ptr<Sandbox> sandbox_;
  std::unique_ptr<QtEventPump> pump_;
  std::unique_ptr<DocumentDriver> driver_;

  nlohmann::json SellerAt(int i) { return nlohmann::json::parse(sandbox_->AdminGet("sellers"))[i]; }

 private slots:
  void init() {
    Sandbox::Options options;
    options.trades = 20;
    sandbox_ = std::make_unique<Sandbox>(options);
    QVERIFY(sandbox_->Ok());
    pump_ = std::make_unique<QtEventPump>();
    driver_ = std::make_unique<DocumentDriver>(*pump_);
  }
  void cleanup() {
    QCoreApplication::processEvents();
    driver_.reset();
    pump_.reset();
    sandbox_.reset();
  }

  // A login page that cannot be loaded shows our own text and 重试, never the
  // browser's error page; 重试 loads it once the platform answers.
  void aPageThatCannotBeLoadedOffersARetry() {
    ProgramDir dir;
    const nlohmann::json seller = SellerAt(0);
    WriteAccount(dir, seller);
    dir.session.sellerNick = seller["nick"];
    dir.session.endpoints = Endpoints::AtBase("http://127.0.0.1:9");
    AuthWindow window(nullptr, dir.session, *driver_, *pump_, UnexpectedEnd());
    window.show();
    QTRY_VERIFY_WITH_TIMEOUT(window.LoadFailure()->isVisible(), 15000);
    auto* retry = window.LoadFailure()->findChild<QPushButton*>("重试");
    QVERIFY(retry != nullptr && retry->isVisible());
    QVERIFY(window.LoadFailure()->geometry().contains(window.Browser()->geometry().center()));

    dir.session.endpoints = Endpoints::AtBase(sandbox_->BaseUrl());
    retry->click();
    QVERIFY(!window.LoadFailure()->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(window.Browser()->url().toString().startsWith(QString::fromStdString(sandbox_->BaseUrl())),
                             15000);
    Hands hands;
    QTRY_VERIFY_WITH_TIMEOUT(hands.Shows("id=TPL_username_1", "input"), 15000);
    QVERIFY(!window.LoadFailure()->isVisible());
  }

  // No stored key: the form is prepared by the program, the user types and
  // submits, the consent is given a second later, the key is stored and the
  // main window loads the seller's orders.
  void aSellerWithoutAKeyLogsInAndTheOrdersLoad() {
    ProgramDir dir;
    const nlohmann::json seller = SellerAt(0);
    WriteAccount(dir, seller);
    dir.session.endpoints = Endpoints::AtBase(sandbox_->BaseUrl());
    EndRecorder ends;
    BoxAnswerer boxes;
    MainWindow w(dir.session, ends.End());
    ChooseAccountWhenAsked(QString::fromStdString(seller["nick"]));
    Hands hands;
    QElapsedTimer consentShown;
    User user({
        {"the login page", [&] {
           if (!hands.Shows("id=TPL_username_1", "input")) return false;
           // The consent page's address arriving starts the clock.
           QObject::connect(hands.page, &QWebEnginePage::urlChanged, hands.page, [&](const QUrl& url) {
             if (url.toString().contains("&timestamp=") && !consentShown.isValid()) consentShown.start();
           });
           return true;
         }},
        {"the prepared form", [&] {
           // The account's name is in the field already, the cursor in it.
           std::string name;
           return hands.Reach() && hands.FormShown() && !hands.driver.GetChecked("id=J_SafeLoginCheck") &&
                  hands.Focused() == "TPL_username_1" && hands.driver.GetInputValue("id=TPL_username_1", &name) &&
                  name == seller["nick"];
         }},
        {"typing", [&] {
           // From the field the program put the cursor in, key by key.
           QWidget* keys = hands.view->focusProxy();
           QTest::keyClick(keys, Qt::Key_Tab);
           QTest::keyClicks(keys, QString::fromStdString(seller["password"]));
           return true;
         }},
        {"what was typed", [&] {
           std::string name, password;
           hands.driver.GetInputValue("id=TPL_username_1", &name);
           hands.driver.GetInputValue("id=TPL_password_1", &password);
           if (name != seller["nick"] || password != seller["password"]) return false;
           QTest::keyClick(hands.view->focusProxy(), Qt::Key_Return);
           return true;
         }},
    });
    const bool started = RunStartupToEnd(w);
    QVERIFY2(user.Finished(), qPrintable(user.Where()));
    QVERIFY(started);
    QVERIFY(consentShown.isValid());
    QVERIFY2(consentShown.elapsed() >= 1000, qPrintable(QString::number(consentShown.elapsed())));
    // The page ticks the safe-login box; the program unticked it before the login was sent.
    bool posted = false;
    for (const auto& entry : nlohmann::json::parse(sandbox_->AdminGet("log"))) {
      if (entry["path"] != "/authorize/login") continue;
      posted = true;
      QVERIFY(entry["body"].get<std::string>().find("safe_login") == std::string::npos);
    }
    QVERIFY(posted);
    QVERIFY(ends.codes.empty());
    QVERIFY(boxes.boxes.empty());
    QCOMPARE(ReadSessionKey(dir.Data(), seller["nick"]), seller["session"].get<std::string>());
    struct stat st {};
    QCOMPARE(stat(dir.File("Config.ini").c_str(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0600u);
    QVERIFY(Control<QLabel>(&w, "标签3")->text().startsWith("已成功获取Session授权 V"));
    QTRY_VERIFY_WITH_TIMEOUT(w.Book().Unrated().RowCount() > 0, 15000);
  }

  // With a key one character short or long of the platform's eight, the page
  // is left to the user: no prepared form and no consent given by itself.
  void keysOfOtherLengthsLeaveThePageToTheUser_data() {
    QTest::addColumn<int>("seller");
    QTest::newRow("7 characters") << 2;
    QTest::newRow("9 characters") << 3;
  }
  void keysOfOtherLengthsLeaveThePageToTheUser() {
    QFETCH(int, seller);
    ProgramDir dir;
    const nlohmann::json s = SellerAt(seller);
    WriteAccount(dir, s);
    dir.session.endpoints = Endpoints::AtBase(sandbox_->BaseUrl());
    EndRecorder ends;
    BoxAnswerer boxes;
    MainWindow w(dir.session, ends.End());
    ChooseAccountWhenAsked(QString::fromStdString(s["nick"]));
    Hands hands;
    QElapsedTimer since;
    bool leftAlone = false, consentWaited = false;
    User user({
        {"the login page", [&] {
           if (!hands.Shows("id=TPL_username_1", "input")) return false;
           since.start();
           return true;
         }},
        {"a second and a half untouched", [&] {
           if (since.elapsed() < 1500) return false;
           leftAlone = !hands.FormShown() && hands.driver.GetChecked("id=J_SafeLoginCheck");
           return true;
         }},
        {"logging in by hand", [&] {
           hands.driver.ClickElement("id=J_Quick2Static", "a");
           hands.LogIn(s["nick"], s["password"]);
           return true;
         }},
        {"the consent page", [&] {
           if (!hands.Url().contains("&timestamp=") || !hands.Shows("class=sh", "button")) return false;
           since.start();
           return true;
         }},
        {"consent by hand", [&] {
           if (since.elapsed() < 2000) return false;
           consentWaited = hands.Url().contains("&timestamp=") && VisibleWindow("AuthWindow") != nullptr;
           hands.driver.ClickElement("class=sh", "button");
           return true;
         }},
    });
    const bool started = RunStartupToEnd(w);
    QVERIFY2(user.Finished(), qPrintable(user.Where()));
    QVERIFY(started);
    QVERIFY(leftAlone);
    QVERIFY(consentWaited);
    QCOMPARE(ReadSessionKey(dir.Data(), s["nick"]), s["session"].get<std::string>());
    QVERIFY(ends.codes.empty());
  }

  // A key the platform names another seller for is refused with a box; the
  // window stays open and nothing is stored.
  void aKeyOfAnotherSellerIsRefusedAndTheWindowStaysOpen() {
    ProgramDir dir;
    const nlohmann::json seller = SellerAt(0);
    WriteFileBytes(dir.File("Config.ini"), Utf8ToGbk("[青禾小铺]\r\nappkey=" + seller["app_key"].get<std::string>() +
                                                     "\r\nAppSecret=" + seller["app_secret"].get<std::string>() +
                                                     "\r\n"));
    dir.session.endpoints = Endpoints::AtBase(sandbox_->BaseUrl());
    EndRecorder ends;
    BoxAnswerer boxes;
    MainWindow w(dir.session, ends.End());
    ChooseAccountWhenAsked(QString::fromUtf8("青禾小铺"));
    Hands hands;
    QPointer<QWidget> window;
    User user({
        {"the prepared form", [&] {
           if (!hands.Reach() || !hands.FormShown() || hands.Focused() != "TPL_username_1") return false;
           window = VisibleWindow("AuthWindow");
           hands.LogIn(seller["nick"], seller["password"]);
           return true;
         }},
        {"the refusal", [&] { return !boxes.boxes.empty() && !window.isNull() && window->isVisible(); }},
        {"its ×", [&] {
           Control<QPushButton>(window, "超级按钮1")->click();
           return true;
         }},
    });
    QVERIFY(!RunStartupToEnd(w));
    QVERIFY2(user.Finished(), qPrintable(user.Where()));
    QCOMPARE(boxes.boxes.size(), size_t(1));
    QVERIFY(boxes.boxes[0].text.contains(QString::fromStdString(seller["nick"])));
    QCOMPARE(ReadSessionKey(dir.Data(), "青禾小铺"), std::string());
    QCOMPARE(ends.codes, std::vector<int>({0}));
  }

  // A stored key the platform refuses opens the login window; a new key the
  // platform refuses as well opens it again (the new key is stored all the
  // same); its "×" ends the program. The key is never shown.
  void aRefusedNewKeyOpensTheLoginWindowAgain() {
    ProgramDir dir;
    const nlohmann::json seller = SellerAt(0);
    WriteAccount(dir, seller, "expired-key");
    dir.session.endpoints = Endpoints::AtBase(sandbox_->BaseUrl());
    EndRecorder ends;
    BoxAnswerer boxes;
    MainWindow w(dir.session, ends.End());
    ChooseAccountWhenAsked(QString::fromStdString(seller["nick"]));
    Hands hands;
    QPointer<QWidget> first;
    User user({
        {"the prepared form", [&] {
           if (!hands.Reach() || !hands.FormShown() || hands.Focused() != "TPL_username_1") return false;
           first = VisibleWindow("AuthWindow");
           // From now on the platform refuses every session check.
           sandbox_->AdminPost("faults", R"({"path":"/router/rest","refuse_rate":1,"api_method":"taobao.user.seller.get"})");
           hands.LogIn(seller["nick"], seller["password"]);
           return true;
         }},
        {"a second login window", [&] {
           QWidget* again = VisibleWindow("AuthWindow");
           return again != nullptr && first.isNull() && ReadSessionKey(dir.Data(), seller["nick"]) == seller["session"];
         }},
        {"its ×", [&] {
           Control<QPushButton>(VisibleWindow("AuthWindow"), "超级按钮1")->click();
           return true;
         }},
    });
    QVERIFY(!RunStartupToEnd(w));
    QVERIFY2(user.Finished(), qPrintable(user.Where()));
    QCOMPARE(ends.codes, std::vector<int>({0}));
    QVERIFY(boxes.boxes.empty());
    QVERIFY(!Control<QLabel>(&w, "标签3")->text().contains(QString::fromStdString(seller["session"])));
  }
};

QTEST_MAIN(AuthWindowTest)
#include "auth_window_test.moc"
