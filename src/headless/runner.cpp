#include "headless/runner.h"

#include "headless/authorize.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "headless/inspect.h"
#include "headless/output.h"
#include "orders/order_book.h"
#include "orders/sync.h"
#include "rating/schedule.h"
#include "rating/startup.h"
#include "settings/app_session.h"
#include "settings/config.h"
#include "util/event_loop.h"
#include "util/heap.h"
#include "util/memory_ports.h"
#include "util/ports.h"
#include "util/program_paths.h"
#include "util/stop.h"

namespace qm {
namespace {

constexpr const char* kUsageHead =
    "usage: quillmere-headless --account NICK [--data-dir DIR] [--platform URL]\n"
    "                          [--once | --authorize | --list | --check TID | --export-log FILE |\n"
    "                           --keep TID | --release TID | --keep-buyer NICK | --release-buyer NICK]\n"
    "       quillmere-headless --version\n"
    "  --account NICK   the seller account (a section of Config.ini)\n";
constexpr const char* kUsageCommands =
    "  --once           one first load, one refresh and one pass, then exit\n"
    "  --authorize      print the authorize address, read the address of the final page\n"
    "                   (holding \"access_token=\") from standard input, store the key, exit\n"
    "  --list           print both lists (loaded into memory) and exit; beside a\n"
    "                   running instance too: no lock, no database written, nothing posted\n"
    "  --check TID      print the buyer's rating of one order (result|:|comment) and exit\n"
    "  --export-log FILE  write the rating log as CSV (UTF-8 with a byte order mark) and exit\n"
    "  --keep TID, --release TID, --keep-buyer NICK, --release-buyer NICK\n"
    "                   keep an order or every order of a buyer from automatic rating\n"
    "                   (or give it back), then exit; a running instance follows at its next pass\n";

struct Options {
  std::string account;
  std::string dataDir;
  std::string platform;
  bool once = false;
  bool list = false;
  std::string check;  // --check TID
  std::string exportLog;
  std::optional<KeepEdit> keepEdit;
  bool help = false;
  bool version = false;
  bool authorize = false;
};

void PrintUsage(std::FILE* to) {
  std::fputs(kUsageHead, to);
  std::fputs(kDirectoryOptionsHelp, to);
  std::fputs(kUsageCommands, to);
}

// Parses the command line; nullopt (after a message) when it is not usable.
std::optional<Options> ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    bool ok = true;
    if (arg == "--headless") {
      continue;
    } else if (arg == "--once") {
      o.once = true;
    } else if (arg == "--list") {
      o.list = true;
    } else if (arg == "--check") {
      ok = value(&o.check) && !o.check.empty();
    } else if (arg == "--export-log") {
      ok = value(&o.exportLog) && !o.exportLog.empty();
    } else if (arg == "--keep" || arg == "--release" || arg == "--keep-buyer" || arg == "--release-buyer") {
      KeepEdit edit;
      edit.keep = arg.rfind("--keep", 0) == 0;
      edit.buyer = arg.find("buyer") != std::string::npos;
      ok = value(&edit.name) && !edit.name.empty();
      o.keepEdit = edit;
    } else if (arg == "--authorize") {
      o.authorize = true;
    } else if (arg == "--account") {
      ok = value(&o.account);
    } else if (arg == "--data-dir") {
      ok = value(&o.dataDir);
    } else if (arg == "--platform") {
      ok = value(&o.platform);
    } else if (arg == "--help" || arg == "-h") {
      o.help = true;
    } else if (arg == "--version") {
      o.version = true;
    } else {
      std::fprintf(stderr, "quillmere: unknown argument '%s'\n", arg.c_str());
      ok = false;
    }
    if (!ok) {
      PrintUsage(stderr);
      return std::nullopt;
    }
  }
  if (o.help || o.version) return o;
  if (o.account.empty()) {
    std::fputs("quillmere: --account is required\n", stderr);
    PrintUsage(stderr);
    return std::nullopt;
  }
  return o;
}

// The directory and its source as the start line and --help name them.
std::string DescribeDataDir(const ProgramDirChoice& choice) {
  return choice.dir + " (" + ProgramDirSourceText(choice.source) + ")";
}

// Boxes become lines; questions are answered OK and input boxes keep their text.
class PrintingPrompts : public Prompts {
 public:
  void Information(const std::string& title, const std::string& text) override {
    PrintLine("message: " + title + ": " + text);
  }
  bool Question(const std::string& title, const std::string& text) override {
    PrintLine("question: " + title + ": " + text + " -> OK");
    return true;
  }
  std::optional<std::string> Input(const std::string& title, const std::string& label,
                                   const std::string& initial) override {
    PrintLine("input: " + title + ": " + label + " -> " + initial);
    return initial;
  }
};

// SIGINT and SIGTERM stop the run. They are blocked in every thread and taken
// by one waiting thread, which requests the stop (every wait of the program
// then ends and nothing new is sent) and ends the loop, waking it.
std::mutex g_signalMutex;
EventLoop* g_signalLoop = nullptr;

void WatchSignals() {
  for (;;) {
    const char* name = WaitForStopSignal();
    RequestStop();
    std::lock_guard<std::mutex> lock(g_signalMutex);
    if (!g_signalLoop) continue;
    PrintLine(std::string("stopping on ") + name);
    g_signalLoop->Quit(kExitOk);
  }
}

void StartSignalWatch(EventLoop* loop) {
  BlockStopSignals();
  {
    std::lock_guard<std::mutex> lock(g_signalMutex);
    g_signalLoop = loop;
  }
  static bool started = false;
  if (!started) {
    started = true;
    std::thread(WatchSignals).detach();
  }
}

void StopSignalWatch() {
  std::lock_guard<std::mutex> lock(g_signalMutex);
  g_signalLoop = nullptr;
}

// What each refused start-up step ends the run with.
int ExitCodeFor(StartupOutcome outcome) {
  switch (outcome) {
    case StartupOutcome::Ready: return kExitOk;
    case StartupOutcome::BadDataDir:
    case StartupOutcome::BadAccountName: return kExitUsage;
    case StartupOutcome::SettingsRefused: return kExitSettingsFile;
    case StartupOutcome::CommentFileHeld: return kExitCommentFile;
    case StartupOutcome::NoCredentials: return kExitNoCredentials;
    case StartupOutcome::CommentTooLong: return kExitUnsendableComment;
    case StartupOutcome::NoSessionKey: return kExitNoSessionKey;
    case StartupOutcome::SessionRefused: return kExitSessionRefused;
    case StartupOutcome::DatabaseUnusable: return kExitDatabase;
  }
  return kExitUsage;
}

// The line that says why the start-up stopped.
std::string StartupStopLine(const StartupStep& step, const std::string& nick) {
  switch (step.outcome) {
    case StartupOutcome::Ready: break;
    case StartupOutcome::BadDataDir: return "start: the data directory cannot be used: " + step.reason;
    case StartupOutcome::BadAccountName: return "start: the account name cannot be used: " + step.reason;
    case StartupOutcome::SettingsRefused: return "start: a settings file cannot be used: " + step.reason;
    case StartupOutcome::CommentFileHeld:
      return "start: the standing comment file " + step.reason +
             " cannot be opened (is another run using this account?)";
    case StartupOutcome::NoCredentials:
      return std::string("message: ") + kEmptyKeyTitle + ": " + kEmptyKeyText;
    case StartupOutcome::CommentTooLong:
      return std::string("message: ") + kCommentTooLongTitle + ": " + step.reason;
    case StartupOutcome::NoSessionKey:
      return "start: no stored SessionKey for " + nick + "; run quillmere-headless --account " + nick +
             " --authorize (or log in with the desktop program)";
    case StartupOutcome::SessionRefused: return "start: the platform did not confirm the session of " + nick;
    case StartupOutcome::DatabaseUnusable: return "start: the order database cannot be used: " + step.reason;
  }
  return {};
}

// The desktop's start-up without windows; kExitOk when the first load may start.
int StartUp(const Options& o, const ProgramDirChoice& dataDir) {
  StartupStep step = OpenAccount(o.account);
  if (step.Ready()) step = ConfirmAccount();
  if (!step.Ready()) {
    // A step cut short by a stop signal was not refused.
    if (StopRequested()) return kExitOk;
    PrintLine(StartupStopLine(step, o.account));
    // Missing settings are looked for in a directory the user may not know of.
    if (step.outcome == StartupOutcome::NoCredentials || step.outcome == StartupOutcome::NoSessionKey) {
      PrintLine("start: the settings are read from " + Session().PathOf(kConfigFileName));
    }
    return ExitCodeFor(step.outcome);
  }
  char hours[32];
  std::snprintf(hours, sizeof hours, "%g", static_cast<double>(Session().ratingHours));
  PrintLine("start: seller " + (step.seller.empty() ? o.account : step.seller) + ", rating " + hours +
            " hours before the deadline, data in " + DescribeDataDir(dataDir));
  for (const std::string& note : step.notes) PrintLine("start: " + note);
  return kExitOk;
}

}  // namespace

int RunHeadless(int argc, char** argv) {
  // Before any other thread: the runner lives for months, and a heap per
  // thread keeps what each hourly listing thread freed.
  UseOneHeap();
  const auto options = ParseOptions(argc, argv);
  if (!options) return kExitUsage;
  const ProgramDirChoice dataDir = ChooseProgramDir(options->dataDir, ExecutableDir());
  if (options->version) {
    std::printf("quillmere-headless %s\n", ProgramVersion());
    return kExitOk;
  }
  if (options->help) {
    PrintUsage(stdout);
    std::printf("data directory of this run: %s\n",
                dataDir.problem.empty() ? DescribeDataDir(dataDir).c_str() : dataDir.problem.c_str());
    return kExitOk;
  }

  AppSession& s = Session();
  if (const StartupStep dir = UseProgramDir(dataDir); !dir.Ready()) {
    PrintLine(StartupStopLine(dir, options->account));
    return ExitCodeFor(dir.outcome);
  }
  if (!options->platform.empty()) s.endpoints = Endpoints::AtBase(options->platform);

  EventLoop loop;
  SetEventPump(&loop);
  StartSignalWatch(&loop);

  if (options->keepEdit || !options->exportLog.empty()) {
    // Files of the seller only: no session needed.
    const StartupStep step = OpenAccountFiles(options->account);
    const int code = !step.Ready()       ? (PrintLine(StartupStopLine(step, options->account)), ExitCodeFor(step.outcome))
                     : options->keepEdit ? EditKeepList(*options->keepEdit)
                                         : ExportLog(options->exportLog);
    StopSignalWatch();
    SetEventPump(nullptr);
    std::fflush(stdout);
    return code;
  }
  if (options->list || !options->check.empty()) {
    const StartupStep step = OpenAccountToRead(options->account);
    const int code = !step.Ready() ? (PrintLine(StartupStopLine(step, options->account)), ExitCodeFor(step.outcome))
                     : options->list ? ListOrders()
                                     : CheckOrder(options->check);
    StopSignalWatch();
    SetEventPump(nullptr);
    std::fflush(stdout);
    return code;
  }
  if (options->authorize) {
    const StartupStep step = OpenAccount(options->account);
    const int code = step.Ready() ? RunAuthorize(PrintLine) : ExitCodeFor(step.outcome);
    if (!step.Ready()) PrintLine(StartupStopLine(step, options->account));
    StopSignalWatch();
    SetEventPump(nullptr);
    return code;
  }

  // The run's objects, released in reverse at the end.
  OrderBook book;
  MemoryOrderList unratedView;
  MemoryOrderList buyerRatedView;
  book.Unrated().AttachView(&unratedView);
  book.BuyerRated().AttachView(&buyerRatedView);
  SetOrderBook(&book);
  PrintingPrompts prompts;
  int exitCode = kExitOk;

  MainView view;
  view.autoTimer = loop.NewTimer([] { RunAutoRatingPass(); });
  view.refreshTimer = loop.NewTimer([] { refresh_cycle(); });
  view.prompts = &prompts;
  view.setStatus = [](const std::string& text) { PrintLine("status: " + text); };
  view.showBusy = [](bool) {};
  view.log = PrintLine;
  view.exitProgram = [&](int code) {
    exitCode = ScheduleStopped() ? kExitPlatformDown : code;
    loop.Quit(exitCode);
  };
  SetMainView(&view);

  auto finish = [&](int code) {
    StopSignalWatch();
    SetMainView(nullptr);
    SetOrderBook(nullptr);
    SetEventPump(nullptr);
    std::fflush(stdout);
    return code;
  };

  const int started = StartUp(*options, dataDir);
  if (started != kExitOk) return finish(started);
  if (StopRequested()) {
    PrintLine("end: exit code 0");
    return finish(kExitOk);
  }

  const bool once = options->once;
  // The first load (and any reload) runs this on the UI thread once
  // 超级列表框1 is filled. A first load whose database could not be used ends
  // the run; one that gave up part-way still rates what it found, and with
  // --once that run ends with kExitDatabase (without it the refresh loads again).
  bool loaded = false;
  InstallSchedule();  // the reloads' end; the first load's end is the runner's own, below
  SetFirstLoadDoneHandler([&] {
    const SyncResult result = LastSyncResult();
    if (!result.databaseOk && !loaded) {
      PrintLine("start: the order database cannot be used: " + result.error);
      exitCode = kExitDatabase;
      loop.Quit(kExitDatabase);
      return;
    }
    loaded = true;
    if (!result.gaveUp.empty())
      PrintLine("load: gave up at " + result.gaveUp + (once ? "" : "; loading again at the next refresh"));
    RunFirstLoadFollowUp();
    if (once && !ScheduleStopped()) {
      if (!result.Completed()) exitCode = kExitDatabase;
      loop.Quit(exitCode);
    }
  });
  // A first load that ends without running the handler above ends the run as
  // well; two looks in a row, so a handler still queued gets its turn.
  int endedUnloaded = 0;
  Timer* watch = loop.NewTimer([&] {
    if (StopRequested()) return;  // a stopped load fills nothing
    endedUnloaded = (!loaded && !FirstLoadRunning()) ? endedUnloaded + 1 : 0;
    if (endedUnloaded >= 2) {
      PrintLine("start: the first load ended without orders: " + LastSyncResult().error);
      exitCode = kExitDatabase;
      loop.Quit(kExitDatabase);
    }
    if (loaded) watch->SetInterval(0);
  });
  watch->SetInterval(250);

  if (!StartFirstLoad()) {
    PrintLine("start: the first load could not be started");
    return finish(kExitDatabase);
  }
  PrintLine(once ? "start: loading orders (one load, one refresh, one pass)" : "start: loading orders");
  const int code = loop.Run();
  if (exitCode == kExitOk) exitCode = code;

  // The first load may still be finishing (a stop signal during the load):
  // let it end while its queued list updates still have somewhere to go. Its
  // waits end on the stop and its end starts no timed work.
  while (FirstLoadRunning()) {
    loop.WaitAndRun(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // the ended loop does not wait
  }
  SetFirstLoadDoneHandler(nullptr);
  SetReloadDoneHandler(nullptr);
  // What is left waiting: the unrated orders with their time left, and the
  // buyer-rated ones that wait for the seller's answer by hand.
  if (once && exitCode == kExitOk && !StopRequested()) {
    const OrderRows& unrated = book.Unrated();
    for (int i = 0; i < unrated.RowCount(); ++i) {
      const OrderRow& row = unrated.Row(i);
      PrintLine("waiting: order=" + row.order.tid + " buyer=" + row.order.buyerNick + " 到期=" + row.timeLeft);
    }
    const OrderRows& buyerRated = book.BuyerRated();
    for (int i = 0; i < buyerRated.RowCount(); ++i) {
      const Order& order = buyerRated.Row(i).order;
      PrintLine("buyer-rated: order=" + order.tid + " buyer=" + order.buyerNick);
    }
  }
  PrintLine("end: exit code " + std::to_string(exitCode));
  return finish(exitCode);
}

}  // namespace qm
