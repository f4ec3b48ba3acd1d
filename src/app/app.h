#pragma once
// The desktop program's entry: the command line, the run state, the Qt
// application and the main window.
#include <optional>
#include <string>

namespace qm {

struct CommandLine {
  bool headless = false;
  std::string dataDir;         // --data-dir DIR
  std::string platform;        // --platform URL
  std::string screenshotDir;   // --screenshot-dir DIR: save a picture of each window there
  std::string error;           // set when the line cannot be used
};

// Reads the options the desktop knows; others are left for Qt.
CommandLine ParseCommandLine(int argc, char** argv);

// The whole program: with --headless the runner without windows, otherwise
// the desktop. Returns the exit code.
int RunApp(int argc, char** argv);

}  // namespace qm
