#pragma once
// Drives the desktop program's own windows from inside its process, the way
// a user's automation would: it watches the windows appear, pictures them,
// types and clicks in them, and says when each one is on screen. Nothing in
// the program knows it is there.
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <functional>
#include <set>
#include <vector>

class QWidget;

namespace qm::tools {

struct DriveOptions {
  QString picturesDir;  // --pictures DIR: save each window as DIR/<name>.png and answer it
  QString answerTid;    // --answer TID: with the pictures, answer this buyer-rated order
  QString chooseNick;   // --choose NICK: type NICK into the account dialog and log in
  // --report: on standard output, with the milliseconds since the start,
  // "shown <name> <ms>" as a window is shown, "painted <name> <ms>" once it
  // has painted, "loaded <ms>" once the first load's busy picture has gone.
  bool report = false;
};

// Takes the driver's own options out of argv (the rest is the program's).
// False with `error` set when one of them lacks its value.
bool TakeDriveOptions(int& argc, char** argv, DriveOptions* options, QString* error);

// The name a window is pictured and reported under: its object name, or for
// a message box the kind of box ("QuestionBox", "WarningBox", "InformationBox").
QString WindowName(const QWidget* window);

// Saves the window's picture as DIR/<name>.png; false when it could not be written.
bool SaveWindowPicture(QWidget* window, const QString& dir, const QString& name);

class WindowDriver : public QObject {
 public:
  explicit WindowDriver(DriveOptions options);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Shown(QWidget* window);
  void FirstPainted(QWidget* window);
  void Report(const QString& line);
  bool Picturing() const { return !options_.picturesDir.isEmpty() && !finishing_; }
  // The main window's tour once it has settled: its pictures, the answer,
  // then each of its other windows opened as the seller opens them.
  void MainWindowSettled(QWidget* main);
  void AnswerOrder(QWidget* main);
  void RunSteps();

  DriveOptions options_;
  QElapsedTimer clock_;
  std::set<const QObject*> seen_;     // windows shown at least once
  std::set<const QObject*> painted_;  // windows reported as painted
  bool accountChosen_ = false;
  bool mainSeen_ = false;
  bool busyShown_ = false;
  bool finishing_ = false;
  // The next question is the answer's, pictured as AnswerQuestion.
  bool answering_ = false;
  std::vector<std::function<void()>> steps_;
};

// Installed on the application as soon as it exists.
void InstallWindowDriver(const DriveOptions& options);

}  // namespace qm::tools
