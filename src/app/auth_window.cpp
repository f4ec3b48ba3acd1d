#include "app/auth_window.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QVBoxLayout>
#include <utility>

#include "app/builder.h"
#include "app/qt_ports.h"
#include "app/shutdown.h"
#include "browser/document_driver.h"
#include "browser/webengine/page_bridge.h"
#include "platform/authorize.h"
#include "platform/session_check.h"
#include "settings/app_session.h"
#include "settings/config.h"
#include "util/delay.h"
#include "rating/run_worker.h"
#include "util/event_pump.h"

namespace qm {
namespace {

inline constexpr const char* kKeyNotStoredTitle = "Session授权无法保存";
inline constexpr const char* kKeyRefusedTitle = "Session授权未被接受";

// The login page: every navigation asks the window first.
class AuthPage : public QWebEnginePage {
 public:
  AuthPage(AuthWindow* window, QObject* parent) : QWebEnginePage(parent), window_(window) {}

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
    if (window_ && window_->on_before_navigate()) return false;
    return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
  }

 private:
  QPointer<AuthWindow> window_;
};

}  // namespace

AuthWindow::AuthWindow(QWidget* owner, AppSession& session, DocumentDriver& driver, EventPump& pump,
                       ProgramEnd end)
    : QDialog(owner), session_(session), driver_(driver), pump_(pump), end_(std::move(end)) {
  BuildWindow(this, AuthWindowLayout());
  setModal(true);
  browser_ = Control<QWebEngineView>(this, "超文本浏览框1");
  consentTimer_ = FindTimer(this, "时钟2");
  // The consent page gets its full second: a coarse timer may fire 5% early.
  consentTimer_->setTimerType(Qt::PreciseTimer);
  nickLabel_ = Control<QLabel>(this, "标签1");
  closeButton_ = Control<QPushButton>(this, "超级按钮1");
  nickLabel_->setTextFormat(Qt::PlainText);
  closeButton_->setAutoDefault(false);
  closeButton_->setDefault(false);

  auto* page = new AuthPage(this, browser_);
  browser_->setPage(page);
  bridge_ = new PageBridge(page);
  browserObject_ = bridge_->BrowserObject();

  // Queued, so that each step runs from the event loop and not inside the
  // browser's own notification.
  // A page that cannot be loaded shows our own short text and a retry, not
  // the browser's error page.
  page->settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
  MakeLoadFailure();
  connect(page, &QWebEnginePage::loadFinished, this, [this](bool ok) {
    loadFailure_->setVisible(!ok && !stored_);
    if (ok) on_document_loaded();
  }, Qt::QueuedConnection);
  connect(page, &QWebEnginePage::urlChanged, this, [this](const QUrl&) { on_navigate_complete(); },
          Qt::QueuedConnection);
  connect(consentTimer_, &QTimer::timeout, this, &AuthWindow::on_consent_timer);
  connect(closeButton_, &QPushButton::clicked, this, [this] {
    end_(0);
    reject();
  });

  start_authorization();
}

AuthWindow::~AuthWindow() {
  // The driver must not keep reaching into a page that is going.
  if (driver_.Browser().SameObject(browserObject_)) driver_.Attach(ComObject());
}

void AuthWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
}

void AuthWindow::MakeLoadFailure() {
  loadFailure_ = new QWidget(this);
  loadFailure_->setObjectName("登录页打开失败");
  loadFailure_->setGeometry(browser_->geometry());
  loadFailure_->setAutoFillBackground(true);
  auto* layout = new QVBoxLayout(loadFailure_);
  auto* text = new QLabel("无法打开淘宝登录页，请检查网络连接后重试。", loadFailure_);
  text->setTextFormat(Qt::PlainText);
  text->setWordWrap(true);
  text->setAlignment(Qt::AlignCenter);
  auto* retry = new QPushButton("重试", loadFailure_);
  retry->setObjectName("重试");
  layout->addStretch();
  layout->addWidget(text);
  layout->addWidget(retry, 0, Qt::AlignCenter);
  layout->addStretch();
  loadFailure_->hide();
  connect(retry, &QPushButton::clicked, this, [this] {
    loadFailure_->hide();
    start_authorization();
  });
}

std::string AuthWindow::Address() const { return S(browser_->url().toString(QUrl::FullyEncoded)); }

void AuthWindow::start_authorization() {
  AppSession& s = session_;
  nickLabel_->setText(Q(s.sellerNick));
  s.AppKey = ReadAppKey(session_.programDir, s.sellerNick);
  s.AppSecret = ReadAppSecret(session_.programDir, s.sellerNick);
  pump_.RunPending();
  browser_->setUrl(QUrl(Q(AuthorizeAddress(s.endpoints, s.AppKey))));
}

void AuthWindow::on_document_loaded() {
  if (stored_ || !IsEightCharacterLoginPage(session_.endpoints, Address())) return;
  driver_.Attach(browserObject_);
  ComObject element;
  if (!driver_.FindElement("id=J_Quick2Static", &element, "A")) return;
  driver_.Click(element);
  pump_.RunPending();
  const QPointer<AuthWindow> self(this);
  DelayWithEvents(pump_, 1000);
  if (!self || !isVisible() || stored_) return;
  // Unticked: the safe-login control is a plug-in of the old browser.
  driver_.SetCheckedAll("id=J_SafeLoginCheck", false);
  pump_.RunPending();
  if (driver_.FindElement("id=J_Quick2Static", &element, "A")) driver_.Click(element);
  pump_.RunPending();
  if (driver_.FindElement("id=TPL_username_1", &element, "input")) {
    // The seller logs in as the account being set up: its name is there
    // already, unless the page brought one of its own.
    std::string typed;
    if (driver_.GetValue("id=TPL_username_1", "input", 0, &typed) && typed.empty())
      driver_.SetValue("id=TPL_username_1", "input", 0, session_.sellerNick);
    driver_.Click(element);
    // A scripted click does not move the keyboard focus; the user types next.
    driver_.Focus(element);
    browser_->setFocus(Qt::OtherFocusReason);
  }
}

bool AuthWindow::on_before_navigate() {
  if (Address().rfind(TokenPagePrefix(session_.endpoints), 0) != 0) return false;
  browser_->stop();
  return true;
}

void AuthWindow::on_navigate_complete() {
  if (stored_) return;
  pump_.RunPending();
  AppSession& s = session_;
  const std::string address = Address();
  s.SessionKey = TokenFromAddress(address);
  if (IsConsentPage(s.endpoints, address, s.AppKey)) {
    pump_.RunPending();
    consentTimer_->start(1000);
    return;
  }
  if (s.SessionKey.empty()) return;
  browser_->stop();
  stored_ = true;
  // The platform is asked whose key it is off the UI thread; its answer
  // goes on in KeyChecked.
  if (!check_) {
    checkPump_ = std::make_unique<QtEventPump>();
    check_ = std::make_unique<RunWorker>(*checkPump_);
  }
  check_->Run<std::pair<bool, SellerIdentity>>(
      [account = s.RunAccount()] {
        SellerIdentity seller;
        const bool ok = confirm_session(account, &seller) == SessionCheck::Confirmed;
        return std::make_pair(ok, seller);
      },
      [this](const std::pair<bool, SellerIdentity>& answer) { KeyChecked(answer.first, answer.second); });
}

void AuthWindow::KeyChecked(bool confirmed, const SellerIdentity& who) {
  AppSession& s = session_;
  // A key the platform names another seller for is never stored. One it does
  // not confirm at all is, and the start-up's own check opens this window again.
  if (confirmed && who.nick != s.sellerNick) {
    s.SessionKey.clear();
    stored_ = false;
    QtPrompts().Information(kKeyRefusedTitle, "这个授权属于卖家“" + who.nick + "”，不是“" + s.sellerNick + "”。请用“" +
                                                  s.sellerNick + "”登录淘宝。");
    return;  // the window stays open for another login
  }
  if (!WriteSessionKey(session_.programDir, s.sellerNick, s.SessionKey)) {
    QtPrompts().Information(kKeyNotStoredTitle, "Session授权无法写入“" + ConfigPath(session_.programDir) + "”。程序将退出。");
    s.SessionKey.clear();
    end_(0);
    reject();
    return;
  }
  pump_.RunPending();
  accept();
}

void AuthWindow::on_consent_timer() {
  consentTimer_->stop();
  if (!driver_.Browser().SameObject(browserObject_)) driver_.Attach(browserObject_);
  ComObject button;
  if (driver_.FindElement("class=sh", &button, "BUTTON")) driver_.Click(button);
}

bool RunAuthWindow(AppSession& session, QWidget* owner, EventPump& pump, ProgramEnd end) {
  // The login page's own driver, for as long as the window is open.
  DocumentDriver driver(pump);
  AuthWindow window(owner, session, driver, pump, std::move(end));
  return window.exec() == QDialog::Accepted && window.KeyStored();
}

}  // namespace qm
