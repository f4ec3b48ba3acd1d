#pragma once
// 开机自动启动: the desktop session's autostart entry,
// $XDG_CONFIG_HOME/autostart/quillmere.desktop (~/.config without it). The
// entry starts this program with the program directory and the account of
// the run that wrote it, hidden in the tray (--hidden), so that the session
// brings back the same seller without the account dialog.
#include <string>
#include <vector>

#include "settings/app_session.h"

class QWidget;

namespace qm {

inline constexpr const char* kAutostartText = "开机自动启动";

std::string AutostartEntryPath();
bool AutostartEnabled();

// Writes the entry that runs `program` for `dataDir` and `account` (and the
// marketplace at `platform`, when not empty), or removes it. False, with
// `error` saying why, when that cannot be done; an argument that no Exec line
// can carry (a control character) is refused.
bool SetAutostart(bool on, const std::string& program, const std::string& dataDir, const std::string& account,
                  const std::string& platform, std::string* error);

// The arguments as the Exec key of a desktop entry holds them: quoted where
// the desktop entry format asks, as a string value escapes them.
std::string DesktopExecValue(const std::vector<std::string>& args);

// The 开机自动启动 box at the foot of `frame`: ticked while the entry exists;
// ticking writes it for the seller of `session` (which outlives the box), unticking removes it.
void AddAutostartBox(QWidget* frame, const AppSession& session);

}  // namespace qm
