#pragma once
// The login window "淘宝评价登录": the platform's OAuth page in an embedded
// browser, prepared by the program (the password form shown, the safe-login
// box unticked, the user-name field focused), the consent given after a
// second, and the session key taken from the final page's address, written
// to Config.ini, and the window closed. Its "×" ends the program.
#include <QDialog>
#include <memory>
#include <string>

#include "app/shutdown.h"
#include "platform/session_check.h"
#include "settings/app_session.h"
#include "util/com_object.h"

class QLabel;
class QPushButton;
class QTimer;
class QWebEngineView;

namespace qm {

class DocumentDriver;
class EventPump;
class PageBridge;
class QtEventPump;
class RunWorker;

class AuthWindow : public QDialog {
  Q_OBJECT
 public:
  // Builds the window and starts the authorization; `driver` is the run's
  // document driver, attached to this window's page when the login page loads.
  // The key goes into `session`, the start-up record, and its Config.ini.
  // `pump` runs the UI thread's events between the login page's steps; "×"
  // and a key that cannot be stored end the program through `end`.
  AuthWindow(QWidget* owner, AppSession& session, DocumentDriver& driver, EventPump& pump, ProgramEnd end);
  ~AuthWindow() override;

  // The steps of the login, each run by its event of the browser or timer.
  void start_authorization();
  void on_document_loaded();
  // True when the navigation is to be stopped (the token page stays put).
  bool on_before_navigate();
  void on_navigate_complete();
  void on_consent_timer();
  // The platform's answer about a key taken from the final page.
  void KeyChecked(bool confirmed, const SellerIdentity& who);

  QWebEngineView* Browser() const { return browser_; }
  // Shown over the page when it could not be loaded, with its 重试 button.
  QWidget* LoadFailure() const { return loadFailure_; }
  QTimer* ConsentTimer() const { return consentTimer_; }
  // True once a key has been taken and written to Config.ini.
  bool KeyStored() const { return stored_; }

 private:
  void showEvent(QShowEvent* event) override;
  std::string Address() const;
  void MakeLoadFailure();

  QWebEngineView* browser_ = nullptr;  // 超文本浏览框1
  QTimer* consentTimer_ = nullptr;     // 时钟2
  QLabel* nickLabel_ = nullptr;        // 标签1
  QPushButton* closeButton_ = nullptr; // 超级按钮1
  QWidget* loadFailure_ = nullptr;
  PageBridge* bridge_ = nullptr;
  ComObject browserObject_;
  AppSession& session_;
  DocumentDriver& driver_;
  EventPump& pump_;
  ProgramEnd end_;
  // Asks the platform about a taken key; its report comes back through the
  // window's own pump and is dropped with the window.
  std::unique_ptr<QtEventPump> checkPump_;
  std::unique_ptr<RunWorker> check_;
  bool stored_ = false;
};

// Shows a fresh login window modally, owned by `owner`, with a document
// driver of its own on `pump`, the UI thread's. True when it closed with a
// stored key; false when the program was ended from it.
bool RunAuthWindow(AppSession& session, QWidget* owner, EventPump& pump, ProgramEnd end);

}  // namespace qm
