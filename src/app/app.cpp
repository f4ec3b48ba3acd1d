#include "app/app.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QScopeGuard>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "app/builder.h"
#include "app/icons.h"
#include "app/main_window.h"
#include "app/qt_ports.h"
#include "app/shutdown.h"
#include "app/translations.h"
#include "headless/runner.h"
#include "platform/platform_link.h"
#include "rating/startup.h"
#include "settings/app_session.h"
#include "util/program_paths.h"
#include "util/heap.h"
#include "util/stop_signal_watch.h"

namespace qm {
namespace {

// quillmere --help: what the desktop takes, and where this run keeps its files.
void PrintUsage(const CommandLine& line) {
  std::printf(
      "usage: quillmere [--data-dir DIR] [--platform URL] [--account NICK] [--hidden]\n"
      "       quillmere --headless --account NICK ...   (the runner without windows, see --headless --help)\n"
      "       quillmere --version | --help\n"
      "%s"
      "  --account NICK   choose this seller account at once\n"
      "  --hidden         start with the main window hidden in the tray\n"
      "  --headless       run without windows: quillmere-headless, with the same options\n"
      "  --version        print the program's name and version and exit\n"
      "  --help, -h       print this help and the data directory of this run, and exit\n",
      kDirectoryOptionsHelp);
  const ProgramDirChoice choice = ChooseProgramDir(line.dataDir, ExecutableDir());
  if (choice.problem.empty()) {
    std::printf("data directory of this run: %s (%s)\n", choice.dir.c_str(), ProgramDirSourceText(choice.source));
  } else {
    std::printf("data directory of this run: %s\n", choice.problem.c_str());
  }
}

}  // namespace

bool UseProgramDirOrSay(AppSession& session, const std::string& dataDir) {
  const StartupStep step = UseProgramDir(session, dataDir, ExecutableDir());
  if (step.Ready()) return true;
  QtPrompts().Warn(kBadDataDirTitle, step.reason + "\n程序将退出。");
  return false;
}

namespace {
// Qt's own options, which it reads from the line itself.
constexpr const char* kQtOptionsWithValue[] = {"-platform", "-platformpluginpath", "-platformtheme", "-plugin",
                                               "-qwindowgeometry", "-qwindowtitle", "-qwindowicon", "-display",
                                               "-style", "-stylesheet", "-session", "-name", "-geometry"};
constexpr const char* kQtFlags[] = {"-reverse", "-nograb", "-dograb", "-sync", "-widgetcount"};

bool QtOptionTakesValue(const char* a) {
  for (const char* option : kQtOptionsWithValue) {
    if (std::strcmp(a, option) == 0) return true;
  }
  return false;
}

bool IsQtOption(const char* a) {
  if (QtOptionTakesValue(a)) return true;
  for (const char* option : kQtFlags) {
    if (std::strcmp(a, option) == 0) return true;
  }
  // "-style=fusion" and the like.
  for (const char* option : kQtOptionsWithValue) {
    const std::size_t n = std::strlen(option);
    if (std::strncmp(a, option, n) == 0 && a[n] == '=') return true;
  }
  return false;
}
}  // namespace

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
    } else if (std::strcmp(a, "--account") == 0) {
      line.account = value(a);
    } else if (std::strcmp(a, "--hidden") == 0) {
      line.hidden = true;
    } else if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
      line.help = true;
    } else if (std::strcmp(a, "--version") == 0) {
      line.version = true;
    } else if (IsQtOption(a)) {
      if (QtOptionTakesValue(a)) value(a);
    } else if (line.error.empty()) {
      line.error = std::string("unknown option: ") + a;
    }
  }
  return line;
}

int RunApp(int argc, char** argv) {
  const CommandLine line = ParseCommandLine(argc, argv);
  if (line.headless) return RunHeadless(argc, argv);
  if (!line.error.empty()) {
    std::fprintf(stderr,
                 "quillmere: %s\n"
                 "usage: quillmere [--data-dir DIR] [--platform URL] [--account NICK]\n"
                 "       quillmere --headless --account NICK ...\n"
                 "       quillmere --help | --version\n",
                 line.error.c_str());
    return 2;
  }
  // Both answer before Qt starts, so they work without a display.
  if (line.version) {
    std::printf("quillmere %s\n", ProgramVersion());
    return 0;
  }
  if (line.help) {
    PrintUsage(line);
    return 0;
  }

#if !defined(_WIN32) && !defined(__APPLE__)
  // Without a window system Qt's platform plugin would abort the process.
  const bool noDisplay = std::getenv("QT_QPA_PLATFORM") == nullptr && std::getenv("DISPLAY") == nullptr &&
                         std::getenv("WAYLAND_DISPLAY") == nullptr;
  bool platformGiven = false;
  for (int i = 1; i < argc; ++i) platformGiven = platformGiven || std::strncmp(argv[i], "-platform", 9) == 0;
  if (noDisplay && !platformGiven) {
    std::fprintf(stderr,
                 "quillmere: no display (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                 "The runner without windows: quillmere --headless --account NICK (see --headless --help)\n");
    return 1;
  }
#endif

  // Before any other thread: the desktop holds large lists for the whole run.
  UseOneHeap();
  // SIGINT and SIGTERM end the program within a second, sending nothing more.
  // They are blocked in every thread (the watch is made before Qt makes any)
  // and taken by the watch's thread: the stop it requests ends every wait and
  // refuses every new request, and it has the UI thread end the program the
  // usual way from whatever event loop or wait it is in. A UI thread that
  // runs no events by then is not waited for. `end` is read on the UI thread
  // only: the main window's end while it is there.
  ProgramEnd end = EndProgram;
  const StopSignalWatch stopSignals([&end](const char*) {
    if (QCoreApplication* app = QCoreApplication::instance()) {
      QMetaObject::invokeMethod(app, [&end] { end(0); }, Qt::QueuedConnection);
      std::this_thread::sleep_for(std::chrono::milliseconds(700));
    }
    std::_Exit(0);
  });
  // The embedded browsers share one GL context; this must precede the application.
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  // The browser engine's account of its graphics set-up and Chromium's own
  // log lines are for its developers, not the seller's terminal; QT_LOGGING_RULES
  // and QTWEBENGINE_CHROMIUM_FLAGS still turn them on.
  QLoggingCategory::setFilterRules("qt.webenginecontext.info=false\nqt.webenginecontext.debug=false");
  if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS")) qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--log-level=3");
  // Qt reads "-platform" and "--platform" itself: it gets only the options
  // that are not ours.
  std::vector<char*> qtArgs{argv[0]};
  for (int i = 1; i < argc; ++i) {
    const bool ours = std::strcmp(argv[i], "--data-dir") == 0 || std::strcmp(argv[i], "--platform") == 0 ||
                      std::strcmp(argv[i], "--account") == 0;
    if (ours) {
      ++i;  // and its value
      continue;
    }
    qtArgs.push_back(argv[i]);
  }
  qtArgs.push_back(nullptr);
  int qtArgc = int(qtArgs.size()) - 1;
  QApplication app(qtArgc, qtArgs.data());
  QApplication::setQuitOnLastWindowClosed(false);  // the main window hides into the tray
  QApplication::setApplicationName("Quillmere");
  QApplication::setApplicationVersion(ProgramVersion());
  QGuiApplication::setDesktopFileName("quillmere");  // the installed desktop entry: its name and icon
  QApplication::setWindowIcon(ProgramIcon());
  InstallQtTranslations(app);

  // The start-up record of this run: made here, handed to the window, and
  // gone with it at the end.
  AppSession s;
  s.link = std::make_shared<PlatformLink>();
  if (!UseProgramDirOrSay(s, line.dataDir)) return kExitUsage;
  PlaceBrowserProfile(s.programDir);
  if (!line.platform.empty()) s.endpoints = Endpoints::AtBase(line.platform);

  MainWindow window(s, EndProgram);
  end = [&window](int code) { window.End(code); };
  const auto windowGone = qScopeGuard([&end] { end = EndProgram; });
  if (!line.account.empty()) window.ChooseAccountAtStart(line.account);
  // The window shows once the run has started; a start-up that ends on the
  // way ends the program itself.
  QObject::connect(&window, &MainWindow::StartupEnded, &window, [&window, hidden = line.hidden](bool started) {
    if (!started) {
      QApplication::exit(0);
      return;
    }
    window.show();
    if (hidden) window.HideToTray();
  });
  if (!window.RunStartup()) return 0;
  return app.exec();
}

}  // namespace qm
