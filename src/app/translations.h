#pragma once
// The language of Qt's own texts (the buttons of message and input boxes,
// the file dialog) and the program's browser profile.
#include <string>

class QCoreApplication;

namespace qm {

// The locale the program speaks: the user's when LC_ALL, LC_MESSAGES or LANG
// names one, else Chinese (China), for the program's users are Chinese
// sellers. "C" and "POSIX" name none.
std::string ProgramLocaleName();

// Makes the locale the default and installs Qt's translations for it when the
// system has them (Debian: qt6-translations-l10n). Call once, after the
// application object exists. True when Qt's base translation was loaded.
bool InstallQtTranslations(QCoreApplication& app);

// Keeps the embedded browser's profile inside the program directory `dir`
// ("浏览器" there) and its cache under the user's cache directory, instead of
// a folder of its own named after the application. Call before any page is made.
void PlaceBrowserProfile(const std::string& dir);

}  // namespace qm
