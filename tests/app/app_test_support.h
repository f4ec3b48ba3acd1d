#pragma once
// Shared by the desktop tests: a program directory with a Config.ini, the
// recorded ends of the program, and answers to message boxes.
#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QStringList>
#include <QTimer>
#include <QtTest>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/builder.h"
#include "app/main_window.h"
#include "app/run_settings_window.h"
#include "app/settings_window.h"
#include "app/qt_ports.h"
#include "app/shutdown.h"
#include "platform/platform_link.h"
#include "settings/app_session.h"
#include "support/temp_dir.h"
#include "util/text_codec.h"

namespace qm::test {

// A fresh program directory with a GBK Config.ini, and the start-up record
// of a run in it, as the program's entry makes one.
struct ProgramDir {
  TempDir dir;
  AppSession session;
  explicit ProgramDir(const std::string& configUtf8 = {}) {
    session.programDir = dir.str();
    session.link = std::make_shared<PlatformLink>();
    if (!configUtf8.empty()) WriteFileBytes(dir.File("Config.ini"), Utf8ToGbk(configUtf8));
  }
  const std::string& Data() const { return session.programDir; }
  std::string File(const std::string& name) const { return dir.File(name); }
};

// The window's start-up to its end, as the program's entry runs it: false
// when it ended at the account choice or on the way, true once the run has
// started.
inline bool RunStartupToEnd(MainWindow& w) {
  QSignalSpy ended(&w, &MainWindow::StartupEnded);
  if (!w.RunStartup()) return false;
  if (ended.isEmpty() && !ended.wait(180000)) return false;
  return ended.takeFirst().at(0).toBool();
}

// The end a test hands the windows: it records each code instead of ending the test.
struct EndRecorder {
  std::vector<int> codes;
  ProgramEnd End() {
    return [this](int code) { codes.push_back(code); };
  }
};

// The end of windows no test expects to end the program: an end fails the
// test program.
inline ProgramEnd UnexpectedEnd() {
  return [](int code) {
    std::fprintf(stderr, "the program was ended (code %d) where the test expected no end\n", code);
    std::abort();
  };
}

// Answers each dialog of type D that the program shows, once the dialog's
// own loop runs, as a user would: it watches the application's windows
// appear, so the program needs no hook for it.
template <class D>
class DialogAnswerer : public QObject {
 public:
  explicit DialogAnswerer(std::function<void(D*)> answer) : answer_(std::move(answer)) {
    qApp->installEventFilter(this);
  }
  ~DialogAnswerer() override { qApp->removeEventFilter(this); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show) {
      if (auto* dialog = qobject_cast<D*>(watched)) {
        QPointer<D> target(dialog);
        QTimer::singleShot(0, this, [this, target] {
          if (target && target->isVisible()) answer_(target);
        });
      }
    }
    return false;
  }

 private:
  std::function<void(D*)> answer_;
};

// Answers every message box with `button` and records what each one said.
struct BoxAnswerer {
  struct Box {
    QString title, text;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
  };
  std::vector<Box> boxes;
  QMessageBox::StandardButton answer;
  DialogAnswerer<QMessageBox> answerer{[this](QMessageBox* box) {
    boxes.push_back({box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
    if (QAbstractButton* b = box->button(answer)) {
      b->click();
    } else {
      box->reject();
    }
  }};
  explicit BoxAnswerer(QMessageBox::StandardButton a = QMessageBox::Ok) : answer(a) {}
};

// Runs `step` on the modal window named `name` once it is the active one.
inline void WhenModal(const QString& name, std::function<void(QWidget*)> step) {
  auto* poll = new QTimer();
  QObject::connect(poll, &QTimer::timeout, poll, [poll, name, step] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal->objectName() != name) return;
    poll->stop();
    poll->deleteLater();
    step(modal);
  });
  poll->start(10);
}

// Chooses `nick` in the account dialog as soon as it is open, as the seller would.
inline void ChooseAccountWhenAsked(const QString& nick) {
  auto* poll = new QTimer();
  QObject::connect(poll, &QTimer::timeout, poll, [poll, nick] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->objectName() == "AccountDialog" && w->isVisible()) {
        poll->stop();
        poll->deleteLater();
        Control<QComboBox>(w, "组合框1")->setEditText(nick);
        Control<QPushButton>(w, "超级按钮2")->click();
        return;
      }
    }
  });
  poll->start(10);
}

// 系统设置, then its 更多设置, as the seller opens them from the main window;
// `act` runs with the second window open. Both are closed afterwards.
inline void WithRunSettings(MainWindow& main, const std::function<void(RunSettingsWindow*)>& act) {
  QTimer::singleShot(0, &main, [&act] {
    auto* settings = qobject_cast<SettingsWindow*>(QApplication::activeModalWidget());
    QVERIFY(settings != nullptr);
    QTimer::singleShot(0, settings, [&act] {
      auto* more = qobject_cast<RunSettingsWindow*>(QApplication::activeModalWidget());
      QVERIFY(more != nullptr);
      act(more);
      if (more->isVisible()) more->reject();
    });
    settings->MoreButton()->click();
    settings->reject();
  });
  Control<QPushButton>(&main, "超级按钮4")->click();
}

}  // namespace qm::test
