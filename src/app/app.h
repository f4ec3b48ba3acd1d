#pragma once
// The desktop program's entry: the command line, the run state, the Qt
// application and the main window.
#include <string>

#include "settings/app_session.h"

namespace qm {

struct CommandLine {
  bool headless = false;
  std::string dataDir;        // --data-dir DIR: the program directory
  std::string platform;       // --platform URL: every platform service at this base
  std::string account;        // --account NICK: the account dialog chooses NICK at once
  bool hidden = false;        // --hidden: the main window starts in the tray (开机自动启动)
  bool help = false;          // --help: the usage and this run's data directory, then end
  bool version = false;       // --version
  std::string error;          // set when the line cannot be used
};

// Reads the options the desktop knows; others are left for Qt.
CommandLine ParseCommandLine(int argc, char** argv);

inline constexpr const char* kBadDataDirTitle = "数据目录无效";

// Sets the record's program directory: the one given with --data-dir, else the
// executable's when it holds a Config.ini, else the user's data directory.
// False after a box naming a directory that cannot be used (a given one is
// never made).
bool UseProgramDirOrSay(AppSession& session, const std::string& dataDir);

// The whole program: with --headless the runner without windows, otherwise
// the desktop. Returns the exit code.
int RunApp(int argc, char** argv);

}  // namespace qm
