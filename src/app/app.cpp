#include "app/app.h"

#include <QApplication>
#include <cstdio>
#include <cstring>

#include "headless/runner.h"

namespace qm {

CommandLine ParseCommandLine(int argc, char** argv) {
  CommandLine line;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    auto value = [&](const char* option) -> std::string {
      if (i + 1 >= argc) {
        line.error = std::string(option) + " needs a value";
        return {};
      }
      return argv[++i];
    };
    if (std::strcmp(a, "--headless") == 0) {
      line.headless = true;
    } else if (std::strcmp(a, "--data-dir") == 0) {
      line.dataDir = value(a);
    } else if (std::strcmp(a, "--platform") == 0) {
      line.platform = value(a);
    } else if (std::strcmp(a, "--screenshot-dir") == 0) {
      line.screenshotDir = value(a);
    }
  }
  return line;
}

int RunApp(int argc, char** argv) {
  CommandLine line = ParseCommandLine(argc, argv);
  if (line.headless) return RunHeadless(argc, argv);
  QApplication app(argc, argv);
  return 0;
}

}  // namespace qm
