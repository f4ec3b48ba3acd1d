// Two runs of the program: a second run for a seller that is already running
// ends silently with code 0 at the account choice, while a run for another
// seller goes on. The running ones wait in their login window (no session
// key), holding their comment files, until the test ends them. The program
// runs under the window driver, which says which windows it showed.
#include <QProcess>
#include <QProcessEnvironment>
#include <QtTest>
#include <cstdio>
#include <signal.h>

#include <QFile>
#include <atomic>
#include <filesystem>
#include <thread>
#include <unistd.h>

#include "app/instance_channel.h"
#include "app_test_support.h"
#include "rating/startup.h"

using namespace qm;
using namespace qm::test;

namespace {

// With `home`, the program is started as an installed one: without
// --data-dir, HOME there and no XDG_DATA_HOME.
QProcess* StartProgram(const ProgramDir& dir, const QString& nick, QObject* parent, const QString& home = {},
                       const QString& runtimeDir = {}) {
  auto* p = new QProcess(parent);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  if (runtimeDir.isEmpty()) {
    env.remove("XDG_RUNTIME_DIR");
  } else {
    env.insert("XDG_RUNTIME_DIR", runtimeDir);
  }
  QStringList args{"--report"};
  if (home.isEmpty()) {
    args << "--data-dir" << QString::fromStdString(dir.dir.str());
  } else {
    env.insert("HOME", home);
    env.remove("XDG_DATA_HOME");
  }
  p->setProcessEnvironment(env);
  p->setProcessChannelMode(QProcess::SeparateChannels);
  // --platform must reach the program, not Qt (which has an option of that name).
  p->start(QM_DRIVE_BIN, args << "--platform" << "http://127.0.0.1:1" << "--account" << nick);
  return p;
}

// Waits until the driver has said `mark` (or the program ended).
bool WaitForMark(QProcess* p, const QByteArray& mark, QByteArray* out, int ms = 15000) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    p->waitForReadyRead(100);
    *out += p->readAllStandardOutput();
    if (out->contains(mark)) return true;
    if (p->state() == QProcess::NotRunning) return false;
  }
  return false;
}

// Waits until the program has written `text` on its standard error.
bool WaitForError(QProcess* p, const QByteArray& text) {
  QByteArray err;
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 10000) {
    p->waitForReadyRead(100);
    err += p->readAllStandardError();
    if (err.contains(text)) return true;
  }
  qWarning("%s", err.constData());
  return false;
}

bool ShowedABox(const QByteArray& out) {
  return out.contains("shown InformationBox") || out.contains("shown QuestionBox") || out.contains("shown WarningBox");
}

// A process of another user (nobody, 65534) listening under `name`, which
// answers every request "ok" and prints what it was asked. With `ownsName`
// the socket's file is that user's; else it is ours and only the listener
// is the other user's.
QProcess* StartSquatter(const QString& name, bool ownsName, QObject* parent) {
  auto* p = new QProcess(parent);
  p->setProcessChannelMode(QProcess::MergedChannels);
  p->start("python3", {"-c",
                       "import os,socket,sys\n"
                       "s=socket.socket(socket.AF_UNIX,socket.SOCK_STREAM); s.bind(sys.argv[1])\n"
                       "os.chmod(sys.argv[1],0o777)\n"
                       "if sys.argv[2]=='1': os.chown(sys.argv[1],65534,65534)\n"
                       "os.setgid(65534); os.setuid(65534); s.listen(5); print('listening',flush=True)\n"
                       "while True:\n"
                       "  c,_=s.accept(); d=c.recv(64)\n"
                       "  if d: print('asked',d,flush=True); c.sendall(b'ok\\n')\n"
                       "  c.close()\n",
                       name, ownsName ? "1" : "0"});
  return p;
}

void Stop(QProcess* p) {
  if (p->state() != QProcess::NotRunning) {
    p->kill();
    p->waitForFinished(5000);
  }
}

}  // namespace

class SecondInstanceTest : public QObject {
  Q_OBJECT
 private slots:
  void sameSellerEndsSilentlyOtherSellerRuns() {
    ProgramDir dir("[卖家甲]\r\nappkey=k1\r\nAppSecret=s1\r\n[卖家乙]\r\nappkey=k2\r\nAppSecret=s2\r\n");
    QByteArray outFirst, outSecond, outOther;

    QProcess* first = StartProgram(dir, "卖家甲", this);
    // Past the account choice: its login window is up and it holds 卖家甲's file.
    QVERIFY2(WaitForMark(first, "shown AuthWindow", &outFirst), outFirst.constData());
    QCOMPARE(ReadFileBytes(dir.File("卖家甲的自动评价内容.txt")).size(), size_t(14));
    // An editor that saves the comment by rename leaves the lock where it was.
    QVERIFY(WriteFileBytes(dir.File("saved.txt"), "谢谢"));
    QCOMPARE(std::rename(dir.File("saved.txt").c_str(), dir.File("卖家甲的自动评价内容.txt").c_str()), 0);

    QProcess* second = StartProgram(dir, "卖家甲", this);
    QVERIFY(second->waitForFinished(15000));
    outSecond = second->readAllStandardOutput();
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QVERIFY(outSecond.contains("shown AccountDialog"));
    QVERIFY2(!ShowedABox(outSecond) && !outSecond.contains("shown AuthWindow"), outSecond.constData());  // silently
    QVERIFY(!outSecond.contains("shown MainWindow"));

    QProcess* other = StartProgram(dir, "卖家乙", this);
    QVERIFY2(WaitForMark(other, "shown AuthWindow", &outOther), outOther.constData());
    QCOMPARE(other->state(), QProcess::Running);
    QCOMPARE(first->state(), QProcess::Running);
    QCOMPARE(ReadFileBytes(dir.File("卖家乙的自动评价内容.txt")).size(), size_t(14));

    Stop(first);
    Stop(other);
  }

  void firstRunEndsThenTheSellerCanStartAgain() {
    ProgramDir dir("[卖家丙]\r\nappkey=k\r\nAppSecret=s\r\n");
    QByteArray out1, out2;
    QProcess* first = StartProgram(dir, "卖家丙", this);
    QVERIFY(WaitForMark(first, "shown AuthWindow", &out1));
    Stop(first);
    // The lock went with the process.
    QProcess* again = StartProgram(dir, "卖家丙", this);
    QVERIFY2(WaitForMark(again, "shown AuthWindow", &out2), out2.constData());
    Stop(again);
  }

  // SIGTERM or SIGINT end the program within a second with code 0, here from
  // inside the nested loop of its login window.
  void stopSignalsEndTheProgramAtOnce() {
    ProgramDir dir("[卖家丁]\r\nappkey=k\r\nAppSecret=s\r\n");
    for (int sig : {SIGTERM, SIGINT}) {
      QByteArray out;
      QProcess* p = StartProgram(dir, "卖家丁", this);
      QVERIFY2(WaitForMark(p, "shown AuthWindow", &out), out.constData());
      QElapsedTimer t;
      t.start();
      ::kill(static_cast<pid_t>(p->processId()), sig);
      QVERIFY(p->waitForFinished(5000));
      QVERIFY2(t.elapsed() < 1000, QByteArray::number(t.elapsed()).constData());
      QCOMPARE(p->exitStatus(), QProcess::NormalExit);
      QCOMPARE(p->exitCode(), 0);
    }
  }

  // The installed program keeps one directory per user, and the comment file
  // there still makes a seller one run.
  void withoutDataDirTheUsersDirectoryHoldsTheSeller() {
    ProgramDir unused;
    TempDir home;
    const std::string user = home.str() + "/.local/share/quillmere";
    std::filesystem::create_directories(user);
    WriteFileBytes(user + "/Config.ini", Utf8ToGbk("[卖家戊]\r\nappkey=k\r\nAppSecret=s\r\n"));
    const QString homeDir = QString::fromStdString(home.str());
    QByteArray outFirst, outSecond;
    QProcess* first = StartProgram(unused, "卖家戊", this, homeDir);
    // No session key: the first run waits in the login window.
    QVERIFY2(WaitForMark(first, "shown AuthWindow", &outFirst), outFirst.constData());
    QCOMPARE(ReadFileBytes(user + "/卖家戊的自动评价内容.txt").size(), size_t(14));
    QProcess* second = StartProgram(unused, "卖家戊", this, homeDir);
    QVERIFY(second->waitForFinished(15000));
    outSecond = second->readAllStandardOutput();
    QCOMPARE(second->exitCode(), 0);
    QVERIFY2(!ShowedABox(outSecond), outSecond.constData());
    Stop(first);
    QVERIFY(std::filesystem::is_empty(unused.dir.path()));
  }

  // The channel's name lies in the user's runtime directory. Another user
  // holding it is told, at the start that would listen and at a second start,
  // and never talked to; a socket file of ours with another user listening
  // is not talked to either, and a process of another user that reaches our
  // channel learns nothing and shows nothing.
  void aNameHeldByAnotherUserIsReportedNeverTalkedTo() {
    if (::geteuid() != 0) QSKIP("needs root to act as a second user");
    TempDir runtime;
    std::filesystem::permissions(runtime.path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    const QString runtimeDir = QString::fromStdString(runtime.str());
    ProgramDir dir("[卖家甲]\r\nappkey=k1\r\nAppSecret=s1\r\n");
    qputenv("XDG_RUNTIME_DIR", runtimeDir.toUtf8());
    const QString name = InstanceSocketName(dir.dir.str(), "卖家甲");
    QVERIFY2(name.startsWith(runtimeDir + "/"), qPrintable(name));

    QProcess* squatter = StartSquatter(name, true, this);
    QVERIFY(squatter->waitForReadyRead(10000));
    QByteArray heard = squatter->readAll();
    QVERIFY2(heard.contains("listening"), heard.constData());
    const QByteArray told = QString::fromStdString(InstanceChannel::OtherUserText(name)).toUtf8();
    QVERIFY(told.contains("uid 65534"));

    QByteArray outFirst, outSecond;
    QProcess* first = StartProgram(dir, "卖家甲", this, {}, runtimeDir);
    QVERIFY2(WaitForMark(first, "shown AuthWindow", &outFirst), outFirst.constData());
    QProcess* second = StartProgram(dir, "卖家甲", this, {}, runtimeDir);
    QVERIFY2(WaitForMark(second, "shown WarningBox", &outSecond), outSecond.constData());
    QVERIFY(WaitForError(first, told));
    QVERIFY(WaitForError(second, told));
    Stop(second);
    Stop(first);
    squatter->waitForReadyRead(300);
    heard += squatter->readAll();
    QVERIFY2(!heard.contains("asked"), heard.constData());
    Stop(squatter);
    QFile::remove(name);

    // Our file, another user listening: a later start does not talk to it.
    squatter = StartSquatter(name, false, this);
    QVERIFY(squatter->waitForReadyRead(10000));
    QCOMPARE(InstanceChannel::AskToShow(name, 2000), ChannelOutcome::OtherUser);
    squatter->waitForReadyRead(300);
    heard = squatter->readAll();
    QVERIFY2(!heard.contains("asked"), heard.constData());
    Stop(squatter);

    // Our channel, open to all for the test: nobody's request shows nothing
    // and gets no answer; ours does.
    InstanceChannel running;
    int shown = 0;
    QCOMPARE(running.Listen(name, [&shown] { ++shown; }), ChannelOutcome::Done);
    QFile::setPermissions(name, QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ReadOwner |
                                    QFileDevice::WriteOwner);
    std::filesystem::permissions(runtime.path(), std::filesystem::perms::others_exec, std::filesystem::perm_options::add);
    QProcess nobody;
    nobody.setProcessChannelMode(QProcess::MergedChannels);
    nobody.start("python3", {"-c",
                             "import os,socket,sys\n"
                             "os.setgid(65534); os.setuid(65534)\n"
                             "s=socket.socket(socket.AF_UNIX,socket.SOCK_STREAM); s.connect(sys.argv[1])\n"
                             "try:\n"
                             "  s.sendall(b'show\\n'); d=s.recv(64)\n"
                             "except OSError: d=b''\n"
                             "print('answer',d,flush=True)\n",
                             name});
    QTRY_VERIFY_WITH_TIMEOUT(nobody.state() == QProcess::NotRunning, 10000);
    const QByteArray answer = nobody.readAll();
    QVERIFY2(answer.contains("answer b''"), answer.constData());
    QCOMPARE(shown, 0);
    std::atomic<int> answered{-1};
    std::thread later([&] { answered = InstanceChannel::AskToShow(name) == ChannelOutcome::Done ? 1 : 0; });
    QTRY_VERIFY(answered.load() != -1);
    later.join();
    QCOMPARE(answered.load(), 1);
    QTRY_COMPARE(shown, 1);
    qunsetenv("XDG_RUNTIME_DIR");
  }

  // Without a runtime directory the name lies in the program directory.
  void withoutARuntimeDirectoryTheNameIsInTheProgramDirectory() {
    qunsetenv("XDG_RUNTIME_DIR");
    ProgramDir dir;
    QVERIFY(InstanceSocketName(dir.dir.str(), "x").startsWith(QString::fromStdString(dir.dir.str()) + "/quillmere-"));
    // One that others may write is not used.
    TempDir open;
    std::filesystem::permissions(open.path(), std::filesystem::perms::all, std::filesystem::perm_options::replace);
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(open.str()));
    QVERIFY(InstanceSocketName(dir.dir.str(), "x").startsWith(QString::fromStdString(dir.dir.str()) + "/quillmere-"));
    qunsetenv("XDG_RUNTIME_DIR");
  }

  // Both answer before Qt starts: no display is needed.
  void versionAndHelpNeedNoDisplay() {
    TempDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("QT_QPA_PLATFORM");
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("XDG_DATA_HOME");
    env.insert("HOME", QString::fromStdString(home.str()));
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QM_DESKTOP_BIN, {"--version"});
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 0);
    QCOMPARE(p.readAllStandardOutput(), QByteArray("quillmere ") + ProgramVersion() + "\n");
    p.start(QM_DESKTOP_BIN, {"--help"});
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 0);
    const QByteArray help = p.readAllStandardOutput();
    QVERIFY2(help.contains(QByteArray("data directory of this run: ") + home.str().c_str() +
                           "/.local/share/quillmere (the user's data directory)"),
             help.constData());
    QVERIFY(!std::filesystem::exists(home.str() + "/.local"));
  }

  void badCommandLineIsRefused() {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.start(QM_DESKTOP_BIN, {"--data-dir"});
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 2);
    QVERIFY(p.readAllStandardError().contains("--data-dir needs a value"));
  }
};

QTEST_GUILESS_MAIN(SecondInstanceTest)
#include "second_instance_test.moc"
