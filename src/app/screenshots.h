#pragma once
// Pictures of the program's windows for the documentation and the demo
// (`--screenshot-dir DIR`): each window is saved as DIR/<window name>.png.
#include <QString>
#include <string>

class QWidget;

namespace qm {

class MainWindow;

// Saves the window's picture as DIR/<name>.png (the window's object name by
// default); false when it could not be written.
bool SaveWindowPicture(QWidget* window, const std::string& dir, const QString& name = {});

// After the main window has settled: its picture and its title bar's
// ("StatusLine.png"); with `answerTid`, that
// order of the buyer-rated list answered as a double-click would and the
// window pictured again with its notice ("MainWindow-answer.png"); then the
// settings, rating-page and rating-log windows (each opened, pictured and closed), then
// the end of the program with code 0.
void ScheduleWindowPictures(MainWindow* mainWindow, const std::string& dir, const std::string& answerTid = {},
                            int settleMs = 1500);

}  // namespace qm
