#include "app/translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QStandardPaths>
#include <QTranslator>
#include <QWebEngineProfile>
#include <cstdlib>
#include <cstring>

namespace qm {

std::string ProgramLocaleName() {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value == nullptr || *value == '\0') continue;
    // The first one set decides, as for the C library.
    if (std::strcmp(value, "C") == 0 || std::strcmp(value, "POSIX") == 0 || std::strncmp(value, "C.", 2) == 0) break;
    return QLocale(QString::fromLocal8Bit(value).section('.', 0, 0).section('@', 0, 0)).name().toStdString();
  }
  return "zh_CN";
}

bool InstallQtTranslations(QCoreApplication& app) {
  const QLocale locale(QString::fromStdString(ProgramLocaleName()));
  QLocale::setDefault(locale);
  // Beside a portable or Windows copy first, then where the system keeps them.
  const QStringList places = {QCoreApplication::applicationDirPath() + "/translations",
                              QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
  bool base = false;
  for (const char* name : {"qtbase", "qtwebengine"}) {
    auto* translator = new QTranslator(&app);
    bool loaded = false;
    for (const QString& place : places) {
      if (translator->load(locale, name, "_", place)) {
        loaded = true;
        break;
      }
    }
    if (!loaded) {
      delete translator;
      continue;
    }
    QCoreApplication::installTranslator(translator);
    if (std::strcmp(name, "qtbase") == 0) base = true;
  }
  return base;
}

void PlaceBrowserProfile(const std::string& dir) {
  QWebEngineProfile* profile = QWebEngineProfile::defaultProfile();
  if (profile == nullptr || dir.empty()) return;
  profile->setPersistentStoragePath(QDir(QString::fromStdString(dir)).filePath("浏览器"));
  const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
  if (!cache.isEmpty()) profile->setCachePath(QDir(cache).filePath("quillmere"));
}

}  // namespace qm
