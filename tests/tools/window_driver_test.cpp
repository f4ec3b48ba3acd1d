// The window driver against the real program and the sandbox marketplace:
// it chooses the seller, pictures every window the README and the demo show,
// answers a buyer-rated order through the list's double-click and ends the
// program the way the seller does (退出, then the question's OK).
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QtTest>

#include <nlohmann/json.hpp>

#include "support/sandbox_process.h"
#include "support/temp_dir.h"

using namespace qm::test;

namespace {

struct Run {
  int code = -1;
  QByteArray output;
};

Run Drive(const QStringList& args) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(QM_DRIVE_BIN, args);
  Run run;
  if (!p.waitForFinished(120000)) {
    p.kill();
    p.waitForFinished(5000);
  } else if (p.exitStatus() == QProcess::NormalExit) {
    run.code = p.exitCode();
  }
  run.output = p.readAll();
  return run;
}

// A picture that loads as an image of at least the given size.
bool Pictured(const QString& dir, const QString& name, int minWidth, int minHeight) {
  const QImage image(QDir(dir).filePath(name + ".png"));
  return image.width() >= minWidth && image.height() >= minHeight;
}

}  // namespace

class WindowDriverTest : public QObject {
  Q_OBJECT
 private slots:
  void picturesEachWindowAnswersTheOrderAndEnds() {
    Sandbox sandbox;
    QVERIFY(sandbox.Ok());
    const std::string neutral = "4100000000000007";
    QVERIFY(!sandbox
                 .AdminPost("trades", R"({"trades":[{"tid":"4100000000000007","buyer_nick":"rated_ivan",)"
                                      R"("ended_hours_ago":200.5,"buyer_rate":"neutral","buyer_comment":"发货太慢"},)"
                                      R"({"buyer_nick":"fresh_dave","ended_hours_ago":12.5}]})")
                 .empty());
    TempDir data;
    QVERIFY(sandbox.WriteConfig(data.File("Config.ini")));
    const QString shots = QString::fromStdString(data.File("shots"));

    const Run run = Drive({"--pictures", shots, "--answer", QString::fromStdString(neutral), "--choose",
                           QString::fromStdString(sandbox.Seller().nick), "--data-dir",
                           QString::fromStdString(data.str()), "--platform", QString::fromStdString(sandbox.BaseUrl())});
    QVERIFY2(run.code == 0, run.output.constData());
    for (const char* name : {"AccountDialog", "MainWindow", "AnswerQuestion", "MainWindow-answer", "SettingsWindow",
                             "RunSettingsWindow", "AlertSettingsWindow", "AlertListWindow", "RatingPageWindow",
                             "RatingLogWindow", "StatsWindow"})
      QVERIFY2(Pictured(shots, name, 200, 80), name);
    QVERIFY(Pictured(shots, "StatusLine", 200, 44));
    // The double-click reached the order: the seller's answer is on the marketplace.
    const nlohmann::json ratings = nlohmann::json::parse(sandbox.AdminGet("ratings"));
    bool answered = false;
    for (const auto& r : ratings) answered = answered || r.value("tid", "") == neutral;
    QVERIFY2(answered, ratings.dump().c_str());
  }

  // A seller without key and secret: the message, then the setup form, each
  // pictured and closed; closing the form goes back to the account box,
  // whose "×" ends the program.
  void firstStartFormIsPicturedAndClosed() {
    Sandbox sandbox;
    QVERIFY(sandbox.Ok());
    TempDir data;
    QVERIFY(sandbox.WriteConfig(data.File("Config.ini")));
    const QString shots = QString::fromStdString(data.File("shots"));
    const Run run = Drive({"--pictures", shots, "--choose", "新卖家", "--data-dir", QString::fromStdString(data.str()),
                           "--platform", QString::fromStdString(sandbox.BaseUrl())});
    QVERIFY2(run.code == 0, run.output.constData());
    QVERIFY(Pictured(shots, "AccountSetupDialog", 200, 80));
    QVERIFY(!QFile::exists(QDir(shots).filePath("MainWindow.png")));
  }

  void optionWithoutValueIsRefused() {
    const Run run = Drive({"--pictures"});
    QCOMPARE(run.code, 2);
    QVERIFY(run.output.contains("--pictures needs a value"));
  }
};

QTEST_GUILESS_MAIN(WindowDriverTest)
#include "window_driver_test.moc"
