#include "app/autostart.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include "app/builder.h"
#include "app/qt_ports.h"
#include "settings/app_session.h"
#include "util/file_io.h"

namespace qm {
namespace {

constexpr const char* kEntryName = "quillmere.desktop";

std::string AutostartDir() {
  return S(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)) + "/autostart";
}

bool HasControlCharacter(const std::string& text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  }
  return false;
}

}  // namespace

std::string AutostartEntryPath() { return AutostartDir() + "/" + kEntryName; }

bool AutostartEnabled() { return QFile::exists(Q(AutostartEntryPath())); }

std::string DesktopExecValue(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& arg : args) {
    if (!line.empty()) line += ' ';
    // The desktop entry format's reserved characters call for double quotes, inside
    // which ", `, $ and \ take a backslash; % is doubled everywhere.
    const bool quote = arg.empty() || arg.find_first_of(" \t\"'\\><~|&;$*?#()`") != std::string::npos;
    std::string word;
    for (const char c : arg) {
      if (c == '%') {
        word += "%%";
      } else if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) {
        word += '\\';
        word += c;
      } else {
        word += c;
      }
    }
    line += quote ? "\"" + word + "\"" : word;
  }
  // The Exec value is a string, whose own escape is the backslash.
  std::string value;
  for (const char c : line) value += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return value;
}

bool SetAutostart(bool on, const std::string& program, const std::string& dataDir, const std::string& account,
                  const std::string& platform, std::string* error) {
  const std::string path = AutostartEntryPath();
  if (!on) {
    if (!QFile::exists(Q(path)) || QFile::remove(Q(path))) return true;
    *error = path + " 无法删除";
    return false;
  }
  if (HasControlCharacter(program) || HasControlCharacter(dataDir) || HasControlCharacter(account) ||
      HasControlCharacter(platform)) {
    *error = "程序路径、数据目录或帐号含有控制字符，无法写入自动启动项";
    return false;
  }
  if (!QDir().mkpath(Q(AutostartDir()))) {
    *error = AutostartDir() + " 无法创建";
    return false;
  }
  std::vector<std::string> args = {program, "--data-dir", dataDir, "--account", account};
  if (!platform.empty()) args.insert(args.end(), {"--platform", platform});
  args.push_back("--hidden");
  const std::string entry =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=Quillmere\n"
      "Name[zh_CN]=Quillmere 淘宝自动评价\n"
      "Comment=Starts Quillmere for " + account + ", hidden in the tray\n"
      "Comment[zh_CN]=登录时在系统托盘中启动 Quillmere（" + account + "）\n"
      "Exec=" + DesktopExecValue(args) + "\n"
      "Icon=quillmere\n"
      "Terminal=false\n"
      "X-GNOME-Autostart-enabled=true\n";
  if (!ReplaceFileAtomically(path, entry)) {
    *error = path + " 无法写入";
    return false;
  }
  return true;
}

void AddAutostartBox(QWidget* frame, const AppSession& session) {
  auto* box = new QCheckBox(Q(kAutostartText), frame);
  box->setObjectName(Q(kAutostartText));
  box->setGeometry(72, frame->height() - 20, 152, 18);
  box->setChecked(AutostartEnabled());
  QObject::connect(box, &QCheckBox::toggled, box, [box, &session](bool on) {
    std::string error;
    if (SetAutostart(on, S(QCoreApplication::applicationFilePath()), session.programDir, session.sellerNick,
                     session.endpoints.Base(), &error)) {
      return;
    }
    QtPrompts().Information(kAutostartText, error);
    const QSignalBlocker quiet(box);
    box->setChecked(AutostartEnabled());
  });
}

}  // namespace qm
