#pragma once
// Shared by the desktop tests: a program directory with a Config.ini, the
// recorded ends of the program, and answers to message boxes.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QtTest>
#include <memory>
#include <string>
#include <vector>

#include "app/qt_ports.h"
#include "app/shutdown.h"
#include "settings/app_session.h"
#include "support/temp_dir.h"
#include "util/text_codec.h"

namespace qm::test {

// A fresh program directory made current in Session(), with a GBK Config.ini.
struct ProgramDir {
  TempDir dir;
  explicit ProgramDir(const std::string& configUtf8 = {}) {
    AppSession& s = Session();
    s = AppSession();
    s.programDir = dir.str();
    if (!configUtf8.empty()) WriteFileBytes(dir.File("Config.ini"), Utf8ToGbk(configUtf8));
  }
  std::string File(const std::string& name) const { return dir.File(name); }
};

// Records EndProgram calls instead of ending the test.
struct EndRecorder {
  std::vector<int> codes;
  EndRecorder() {
    SetEndHandler([this](int code) { codes.push_back(code); });
  }
  ~EndRecorder() { SetEndHandler(nullptr); }
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
  explicit BoxAnswerer(QMessageBox::StandardButton a = QMessageBox::Ok) : answer(a) {
    QtPrompts::SetBoxHook([this](QMessageBox* box) {
      boxes.push_back({box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
      if (QAbstractButton* b = box->button(answer)) {
        b->click();
      } else {
        box->reject();
      }
    });
  }
  ~BoxAnswerer() { QtPrompts::SetBoxHook(nullptr); }
};

}  // namespace qm::test
