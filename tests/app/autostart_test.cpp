// 开机自动启动 in the settings window: ticking writes the autostart entry a
// desktop session runs (launched here as GLib launches it, so the quoting of
// every argument is checked by a real reader), unticking removes it, and an
// entry that cannot be written leaves the box unticked with a box saying why.
#include <QApplication>
#include <QCheckBox>
#include <QProcess>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <functional>

#include "app/autostart.h"
#include "app/builder.h"
#include "app/settings_window.h"
#include "app_test_support.h"

using namespace qm;
using namespace qm::test;

namespace {

// Opens the settings window modally; `act` runs inside its loop.
void WithSettings(AppSession& session, const std::function<void(SettingsWindow*)>& act) {
  QWidget owner;
  QTimer::singleShot(0, &owner, [&] {
    auto* window = qobject_cast<SettingsWindow*>(QApplication::activeModalWidget());
    QVERIFY(window != nullptr);
    act(window);
    window->done(QDialog::Rejected);
  });
  OpenSettingsWindow(session, nullptr, &owner);
}

QCheckBox* Box(SettingsWindow* w) { return Control<QCheckBox>(w, QString::fromUtf8(kAutostartText)); }

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

class AutostartTest : public QObject {
  Q_OBJECT
 private slots:
  void tickingWritesAnEntryThatStartsThisSellerHiddenAndUntickingRemovesIt() {
    TempDir config;
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.str()));
    // A program directory and an account with everything an Exec line must quote.
    ProgramDir dir;
    const std::string data = dir.File("数据 $HOME \"q\" `x` \\ 100%");
    std::filesystem::create_directory(data);
    dir.session.programDir = data;
    dir.session.sellerNick = "沐晨 旗舰店 %u";
    // A program started for another marketplace starts for it again.
    dir.session.endpoints = Endpoints::AtBase("http://127.0.0.1:8123/");
    const std::string entry = config.File("autostart/quillmere.desktop");
    QCOMPARE(AutostartEntryPath(), entry);

    WithSettings(dir.session, [&](SettingsWindow* w) {
      QVERIFY(Box(w) != nullptr);
      QVERIFY(!Box(w)->isChecked());
      Box(w)->click();
    });
    QVERIFY(std::filesystem::exists(entry));
    QProcess validate;
    validate.start("desktop-file-validate", {QString::fromStdString(entry)});
    QVERIFY(validate.waitForFinished(30000));
    QCOMPARE(validate.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(validate.readAll()), QString());

    // GLib starts the entry as a session does; a stand-in program records
    // the arguments it got. The entry names the running program, so it is
    // pointed at the stand-in for this.
    const std::string recorder = dir.File("recorder.sh");
    const std::string got = dir.File("arguments");
    WriteFileBytes(recorder, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + got + "'\n");
    std::filesystem::permissions(recorder, std::filesystem::perms::owner_all);
    std::string text = ReadText(entry);
    const std::string program = QCoreApplication::applicationFilePath().toStdString();
    QVERIFY(text.find("\nExec=" + program + " ") != std::string::npos);
    text.replace(text.find("\nExec=" + program) + 6, program.size(), recorder);
    const std::string launched = dir.File("launched.desktop");
    WriteFileBytes(launched, text);
    QProcess gio;
    gio.start("gio", {"launch", QString::fromStdString(launched)});
    QVERIFY(gio.waitForFinished(30000));
    QCOMPARE(gio.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(ReadText(got).size() > 0 && ReadText(got).back() == '\n' &&
                                 ReadText(got).find("--hidden") != std::string::npos, 10000);
    QCOMPARE(QString::fromStdString(ReadText(got)),
             QString::fromStdString("--data-dir\n" + data + "\n--account\n沐晨 旗舰店 %u\n--platform\nhttp://127.0.0.1:8123\n--hidden\n"));

    // The next opening shows it ticked; unticking removes the entry.
    WithSettings(dir.session, [&](SettingsWindow* w) {
      QVERIFY(Box(w)->isChecked());
      Box(w)->click();
    });
    QVERIFY(!std::filesystem::exists(entry));
    qunsetenv("XDG_CONFIG_HOME");
    dir.session.endpoints = Endpoints();
  }

  void anEntryThatCannotBeWrittenLeavesTheBoxUnticked() {
    TempDir config;
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.str()));
    ProgramDir dir;
    dir.session.sellerNick = "卖家甲";
    // A file where the autostart directory belongs.
    WriteFileBytes(config.File("autostart"), "");
    BoxAnswerer boxes;
    WithSettings(dir.session, [&](SettingsWindow* w) {
      Box(w)->click();
      QVERIFY(!Box(w)->isChecked());
    });
    QCOMPARE(boxes.boxes.size(), size_t(1));
    QVERIFY(boxes.boxes[0].text.contains("autostart"));
    // A line break in the program directory cannot be carried by an Exec line.
    std::string error;
    QVERIFY(!SetAutostart(true, "/usr/bin/quillmere", "/tmp/a\nb", "卖家甲", "", &error));
    QVERIFY(!error.empty());
    qunsetenv("XDG_CONFIG_HOME");
  }
};

QTEST_MAIN(AutostartTest)
#include "autostart_test.moc"
