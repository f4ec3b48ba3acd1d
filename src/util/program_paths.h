#pragma once
// Where the operating system keeps the program and the user's own files: the
// one place that asks it. Paths are UTF-8, without a trailing separator.
#include <string>

namespace qm {

// The directory of the running executable; empty when it cannot be told.
std::string ExecutableDir();

// The base of the user's data files: $XDG_DATA_HOME when it is an absolute
// path, otherwise $HOME/.local/share (the home directory from the user
// database when HOME is unset). On Windows the user's roaming application
// data folder (%APPDATA%). Empty when no such directory can be found.
std::string UserDataHome();

}  // namespace qm
