// quillmere-drive [--pictures DIR [--answer TID]] [--choose NICK] [--report] [quillmere's options]
//
// The desktop program itself, started with its own command line, with a
// driver on its windows: the README's pictures (scripts/screenshot.sh), the
// demo's (scripts/demo.sh) and the moments the benchmarks and the
// second-instance tests wait for (--report). Not installed.
#include <QCoreApplication>
#include <cstdio>

#include "app/app.h"
#include "tools/window_driver.h"

namespace {

qm::tools::DriveOptions& Options() {
  static qm::tools::DriveOptions options;
  return options;
}

// Runs inside the application's constructor, before any window exists.
void StartDriver() { qm::tools::InstallWindowDriver(Options()); }
Q_COREAPP_STARTUP_FUNCTION(StartDriver)

}  // namespace

int main(int argc, char** argv) {
  QString error;
  if (!qm::tools::TakeDriveOptions(argc, argv, &Options(), &error)) {
    std::fprintf(stderr, "quillmere-drive: %s\n", error.toUtf8().constData());
    return 2;
  }
  return qm::RunApp(argc, argv);
}
