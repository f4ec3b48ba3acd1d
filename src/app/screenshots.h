#pragma once
// Pictures of the program's windows for the documentation and the demo
// (`--screenshot-dir DIR`): each window is saved as DIR/<window name>.png.
#include <QString>
#include <string>

class QWidget;

namespace qm {

// Saves the window's picture; false when it could not be written.
bool SaveWindowPicture(QWidget* window, const std::string& dir);

// After the main window has settled: its picture, then those of the settings
// and rating-page windows (each opened, pictured and closed), then the end of
// the program with code 0.
void ScheduleWindowPictures(QWidget* mainWindow, const std::string& dir, int settleMs = 1500);

}  // namespace qm
