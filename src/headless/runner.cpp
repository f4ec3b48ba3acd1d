#include "headless/runner.h"

#include "headless/authorize.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "alerts/alert_outbox.h"
#include "headless/inspect.h"
#include "headless/output.h"
#include "headless/run_lines.h"
#include "orders/order_book.h"
#include "platform/platform_link.h"
#include "rating/schedule.h"
#include "rating/seller_run.h"
#include "rating/startup.h"
#include "settings/app_session.h"
#include "settings/config.h"
#include "util/event_loop.h"
#include "util/heap.h"
#include "util/memory_ports.h"
#include "util/ports.h"
#include "util/program_paths.h"
#include "util/stop.h"
#include "util/stop_signal_watch.h"
#if QM_WITH_WEB
#include "web/web_desk.h"
#include "web/web_password.h"
#include "web/web_server.h"
#endif

namespace qm {
namespace {

constexpr const char* kUsageHead =
    "usage: quillmere-headless --account NICK [--data-dir DIR] [--platform URL] [--verbose]\n"
    "                          [--once | --authorize | --list | --check TID | --export-log FILE | --test-alert |\n"
    "                           --keep TID | --release TID | --keep-buyer NICK | --release-buyer NICK |\n"
    "                           --set-web-password] [--web [ADDRESS:]PORT]\n"
    "       quillmere-headless --version | --help\n"
    "  --account NICK   the seller account (a section of Config.ini)\n";
constexpr const char* kUsageCommands =
    "  --once           one first load, one refresh and one pass, then exit\n"
    "  --verbose        with --once, print both lists (as --list does) before exiting\n"
    "  --authorize      print the authorize address, read the address of the final page\n"
    "                   (holding \"access_token=\") from standard input, store the key, exit\n"
    "  --list           print both lists (loaded into memory) and exit; beside a\n"
    "                   running instance too: no lock, no database written, nothing posted\n"
    "  --check TID      print the buyer's rating of one order (result|:|comment) and exit\n"
    "  --export-log FILE  write the rating log as CSV (UTF-8 with a byte order mark) and exit\n"
    "  --keep TID, --release TID, --keep-buyer NICK, --release-buyer NICK\n"
    "                   keep an order or every order of a buyer from automatic rating\n"
    "                   (or give it back), then exit; a running instance follows at its next pass\n"
    "  --web [ADDRESS:]PORT  serve the web page of the run there (127.0.0.1 when no\n"
    "                   address is given); it needs a password set with --set-web-password\n"
    "  --set-web-password  read the web page's password (twice from a terminal, without\n"
    "                   echo; once from standard input otherwise), store its salted hash, exit\n"
    "  --test-alert     send a test alert to each place the alerts go (Config.ini), print\n"
    "                   what each answered and exit\n"
    "  --version        print the program's name and version and exit\n"
    "  --help, -h       print this help and the data directory of this run, and exit\n";

struct Options {
  std::string account;
  std::string dataDir;
  std::string platform;
  bool once = false;
  bool verbose = false;
  bool list = false;
  std::string check;  // --check TID
  std::string exportLog;
  std::optional<KeepEdit> keepEdit;
  bool help = false;
  bool version = false;
  bool authorize = false;
  std::string web;  // --web [ADDRESS:]PORT
  bool setWebPassword = false;
  bool testAlert = false;
};

void PrintUsage(std::FILE* to) {
  std::fputs(kUsageHead, to);
  std::fputs(kDirectoryOptionsHelp, to);
  std::fputs(kUsageCommands, to);
}

// The web page is built where cpp-httplib is.
#if QM_WITH_WEB
constexpr bool kWithWebPage = true;
bool WebAddressUsable(const std::string& text) {
  std::string address;
  int port = 0;
  return ParseWebAddress(text, &address, &port);
}
#else
constexpr bool kWithWebPage = false;
bool WebAddressUsable(const std::string&) { return false; }
#endif

// The name error lines begin with: the program's own, as it was started
// (quillmere-headless, or quillmere for `quillmere --headless`).
std::string ProgramName(const char* argv0) {
  const std::string path = argv0 != nullptr ? argv0 : "";
  const std::string name = path.substr(path.find_last_of('/') + 1);
  return name.empty() ? "quillmere-headless" : name;
}

// Parses the command line; nullopt (after a message) when it is not usable.
std::optional<Options> ParseOptions(int argc, char** argv) {
  Options o;
  const std::string program = ProgramName(argc > 0 ? argv[0] : nullptr);
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
    } else if (arg == "--verbose") {
      o.verbose = true;
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
    } else if (arg == "--test-alert") {
      o.testAlert = true;
    } else if (arg == "--authorize") {
      o.authorize = true;
    } else if (arg == "--web") {
      ok = value(&o.web) && WebAddressUsable(o.web);
    } else if (arg == "--set-web-password") {
      o.setWebPassword = true;
      ok = kWithWebPage;
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
      std::fprintf(stderr, "%s: unknown argument '%s'\n", program.c_str(), arg.c_str());
      PrintUsage(stderr);
      return std::nullopt;
    }
    if (!ok && !kWithWebPage && (arg == "--web" || arg == "--set-web-password")) {
      std::fprintf(stderr, "%s: this build has no web page (%s)\n", program.c_str(), arg.c_str());
      return std::nullopt;
    }
    if (!ok && arg == "--web" && !o.web.empty()) {
      std::fprintf(stderr, "%s: --web needs [ADDRESS:]PORT, not '%s'\n", program.c_str(), o.web.c_str());
      PrintUsage(stderr);
      return std::nullopt;
    }
    if (!ok) {
      std::fprintf(stderr, "%s: %s needs a value\n", program.c_str(), arg.c_str());
      PrintUsage(stderr);
      return std::nullopt;
    }
  }
  if (o.help || o.version) return o;
  if (o.account.empty()) {
    std::fprintf(stderr, "%s: --account is required\n", program.c_str());
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

// What each refused start-up step ends the run with.
int ExitCodeFor(StartupOutcome outcome) {
  switch (outcome) {
    case StartupOutcome::Ready: return kExitOk;
    case StartupOutcome::BadDataDir:
    case StartupOutcome::BadAccountName: return kExitUsage;
    case StartupOutcome::SettingsRefused: return kExitSettingsFile;
    case StartupOutcome::CommentFileHeld:
    case StartupOutcome::FilesUnusable: return kExitCommentFile;
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
    case StartupOutcome::FilesUnusable:
      return "start: " + step.reason;
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

// Why the platform cannot be used at the start, for the runner's line.
std::string UnreachableText(const SessionTrouble& why) {
  switch (why.kind) {
    case ReplyKind::Trouble: return "the platform answers with trouble of its own: " + why.message;
    case ReplyKind::ClockRefused: return "the platform refuses this machine's time: " + why.message;
    default: return "the platform cannot be reached";
  }
}

// The desktop's start-up without windows; kExitOk when the first load may start.
int StartUp(AppSession& s, EventLoop& loop, const Options& o, const ProgramDirChoice& dataDir,
            const UnreachableHandler& unreachable) {
  StartupStep step = OpenAccount(s, o.account);
  if (step.Ready()) {
    // The loop runs until the session check reports (or a stop signal ends
    // it: the check then counts as not answered), then runs again for the run.
    step.outcome = StartupOutcome::SessionRefused;
    const AccountConfirmation confirmation(s, loop, unreachable, [&step, &loop](const StartupStep& answered) {
      step = answered;
      loop.Quit(kExitOk);
    });
    loop.Run();
    loop.ClearQuit();
  }
  if (!step.Ready()) {
    // A step cut short by a stop signal was not refused.
    if (StopRequested()) return kExitOk;
    // Missing settings are looked for in a directory the user may not know
    // of: where they were read comes first, then what is missing there.
    if (step.outcome == StartupOutcome::NoCredentials || step.outcome == StartupOutcome::NoSessionKey) {
      PrintLine("start: the settings are read from " + s.PathOf(kConfigFileName));
    }
    PrintLine(StartupStopLine(step, o.account));
    return ExitCodeFor(step.outcome);
  }
  PrintLine("start: seller " + (step.seller.empty() ? o.account : step.seller) + ", rating " +
            RatingHoursText(s.ratingHours) +
            " hours before the deadline, data in " + DescribeDataDir(dataDir));
  for (const std::string& note : step.notes) PrintLine("start: " + note);
  return kExitOk;
}

// --test-alert: one try to each destination, a line each; never a secret or an address.
int TestAlert(const AppSession& s) {
  const std::string& nick = s.sellerNick;
  const AlertSettings settings = ReadAlertSettings(s.programDir, nick);
  if (const std::string problem = AlertSettingsProblem(settings); !problem.empty()) {
    PrintLine("test-alert: the alert settings cannot be used: " + problem);
    return kExitAlertNotDelivered;
  }
  if (settings.Destinations().empty()) {
    PrintLine("test-alert: no place to send alerts to is set for " + nick + " in " + s.PathOf(kConfigFileName));
    return kExitAlertNotDelivered;
  }
  int code = kExitOk;
  for (const auto& [destination, outcome] : SendTestAlerts(settings, nick, s.link->Clock().Now())) {
    PrintLine(std::string("test-alert: ") + DestinationKey(destination) +
              (outcome.delivered ? " delivered" : " not delivered: " + outcome.why));
    if (!outcome.delivered) code = kExitAlertNotDelivered;
  }
  return code;
}

// One line per send's outcome.
void PrintAlertEvent(const AlertEvent& e) {
  const std::string what = e.about == AlertKind::Summary ? "summary " + e.item : "order=" + e.item;
  const std::string where = DestinationKey(e.destination);
  switch (e.kind) {
    case AlertEvent::Kind::Sent: PrintLine("notify: " + what + " sent to " + where); break;
    case AlertEvent::Kind::Retrying:
      PrintLine("notify: " + what + " to " + where + " failed (try " + std::to_string(e.tries) + "): " + e.why +
                "; trying again later");
      break;
    case AlertEvent::Kind::GaveUp:
      PrintLine("notify: " + what + " to " + where + " given up after " + std::to_string(e.tries) +
                " tries: " + e.why);
      break;
  }
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

  // The start-up record of this run, handed to every step that needs the account.
  AppSession s;
  s.link = std::make_shared<PlatformLink>();
  if (const StartupStep dir = UseProgramDir(s, dataDir); !dir.Ready()) {
    PrintLine(StartupStopLine(dir, options->account));
    return ExitCodeFor(dir.outcome);
  }
  if (!options->platform.empty()) s.endpoints = Endpoints::AtBase(options->platform);

  EventLoop loop;
  // SIGINT and SIGTERM stop the run. They are blocked in every thread and
  // taken by the watch's thread, which requests the stop (every wait of the
  // program then ends and nothing new is sent) and ends the loop, waking it.
  // No thread has started yet.
  const StopSignalWatch stopSignals([&loop](const char* name) {
    PrintLine(std::string("stopping on ") + name);
    loop.Quit(kExitOk);
  });

  if (options->testAlert) {
    const StartupStep step = OpenAccountFiles(s, options->account);
    const int code = step.Ready() ? TestAlert(s)
                                  : (PrintLine(StartupStopLine(step, options->account)), ExitCodeFor(step.outcome));
    std::fflush(stdout);
    return code;
  }
  if (options->keepEdit || !options->exportLog.empty()) {
    // Files of the seller only: no session needed.
    const StartupStep step = OpenAccountFiles(s, options->account);
    const int code = !step.Ready()       ? (PrintLine(StartupStopLine(step, options->account)), ExitCodeFor(step.outcome))
                     : options->keepEdit ? EditKeepList(s, *options->keepEdit)
                                         : ExportLog(s, options->exportLog);
    std::fflush(stdout);
    return code;
  }
  if (options->list || !options->check.empty()) {
    const StartupStep step = OpenAccountToRead(s, options->account);
    const int code = !step.Ready() ? (PrintLine(StartupStopLine(step, options->account)), ExitCodeFor(step.outcome))
                     : options->list ? ListOrders(s)
                                     : CheckOrder(s, options->check);
    std::fflush(stdout);
    return code;
  }
#if QM_WITH_WEB
  if (options->setWebPassword) {
    const std::string nick = AccountSectionName(s.programDir, options->account);
    int code = kExitOk;
    if (!AccountIsSetUp(s.programDir, nick)) {
      PrintLine("start: " + nick + " has no appkey and AppSecret in " + s.PathOf(kConfigFileName));
      code = kExitNoCredentials;
    } else {
      const PasswordSet set = SetWebPassword(s.programDir, nick);
      code = set == PasswordSet::Stored ? kExitOk : set == PasswordSet::Refused ? kExitUsage : kExitSettingsFile;
    }
    std::fflush(stdout);
    return code;
  }
  // The page does not start without its password: said before anything else.
  WebOptions web;
  if (!options->web.empty()) {
    ParseWebAddress(options->web, &web.address, &web.port);
    const std::string nick = AccountSectionName(s.programDir, options->account);
    web.passwordHash = ReadSetting(s.programDir, nick, kKeyWebPassword);
    web.hosts = SplitList(ReadSetting(s.programDir, nick, kKeyWebHosts));
    if (const std::string proxies = ReadSetting(s.programDir, nick, kKeyWebProxies); !proxies.empty()) web.proxies = SplitList(proxies);
    if (web.passwordHash.empty()) {
      PrintLine("start: the web page has no password; set one with quillmere-headless --account " + nick +
                " --set-web-password");
      return kExitUsage;
    }
  }
#endif
  if (options->authorize) {
    const StartupStep step = OpenAccount(s, options->account);
    const int code = step.Ready() ? RunAuthorize(s, PrintLine) : ExitCodeFor(step.outcome);
    if (!step.Ready()) PrintLine(StartupStopLine(step, options->account));
    return code;
  }

  auto finish = [&](int code) {
    std::fflush(stdout);
    return code;
  };

  // A session check without an answer is asked again by itself; the line
  // says so once, and again only when the reason changes.
  // (The handler is copied on its way to each attempt: what was said lives beside it.)
  const auto said = std::make_shared<std::optional<SessionTrouble>>();
  const UnreachableHandler unreachable = [said](int attempt, int pauseMs, const SessionTrouble& why) {
    if (*said == why) return;
    *said = why;
    PrintLine("start: " + UnreachableText(why) + "; waiting, and going on by itself once it answers (attempt " +
              std::to_string(attempt) + ", next in " + std::to_string(pauseMs / 1000) + " s)");
  };
  const int started = StartUp(s, loop, *options, dataDir, unreachable);
  if (started != kExitOk) return finish(started);
  if (StopRequested()) {
    PrintLine("end: exit code 0");
    return finish(kExitOk);
  }

  // The run's objects, released in reverse at the end.
  const bool once = options->once;
  int exitCode = kExitOk;
  // The run's status lines also reach the web page's status line.
  std::function<void(const std::string&)> statusToPage;
  RunLines lines(s.link->Clock(), once, [&statusToPage](const std::string& line) {
    PrintLine(line);
    if (statusToPage && line.rfind("status: ", 0) == 0) statusToPage(line.substr(8));
  });
  SellerRun* current = nullptr;
  lines.end = [&](int code) {
    exitCode = code;
    if (current) current->Schedule().End();
    loop.Quit(code);
  };
  Timer* autoTimer = loop.NewTimer([&] {
    if (current) current->RunAutoRatingPass();
  });
  Timer* refreshTimer = loop.NewTimer([&] {
    if (current) current->refresh_cycle();
  });
  // What the run's own notices show on: the status lines and the boxes,
  // printed.
  PrintingPrompts prompts;
  MainView view;
  view.prompts = &prompts;
  view.setStatus = [](const std::string& text) { PrintLine("status: " + text); };
  RunPorts ports{&loop, autoTimer, refreshTimer, {}};
  ports.view = &view;
  std::string error;
  std::unique_ptr<SellerRun> run = SellerRun::Open(s.RunAccount(), CurrentRunSettings(s), ports, lines, &error);
  if (!run) {
    PrintLine("start: the order database cannot be used: " + error);
    return finish(kExitDatabase);
  }
  current = run.get();
  // Alerts also go to the seller's phone and chats, from their own workers.
  AlertOutbox outbox(loop, s.link->Clock(), s.sellerNick, ReadAlertSettings(s.programDir, s.sellerNick), PrintAlertEvent, {});
  if (std::string why; !outbox.Open(s.PathOf(RatingLogFileName(s.sellerNick)), &why))
    PrintLine("notify: the alerts' sends cannot be kept: " + why);
  lines.alerted = [&outbox](const Order& order, const BuyerVerdict& verdict) {
    outbox.Raise({order.tid, order.buyerNick, verdict.result, verdict.comment, {}});
  };
  Timer* summaryTimer = loop.NewTimer([&outbox] { outbox.CheckSummary(); });
  summaryTimer->SetInterval(60000);
  outbox.CheckSummary();
  MemoryOrderList unratedView;
  MemoryOrderList buyerRatedView;
  run->Book().Unrated().AttachView(&unratedView);
  run->Book().BuyerRated().AttachView(&buyerRatedView);
#if QM_WITH_WEB
  // The page's desk and server, stopped before the run goes.
  std::unique_ptr<WebDesk> desk;
  std::unique_ptr<WebServer> server;
  if (!options->web.empty()) {
    desk = std::make_unique<WebDesk>(*run, unratedView, buyerRatedView, loop, &outbox);
    desk->Attach(view);
    statusToPage = [d = desk.get()](const std::string& text) { d->ShowStatus(text); };
    server = std::make_unique<WebServer>(*desk, loop);
    std::string webError;
    const int port = server->Start(web, &webError);
    if (port <= 0) {
      PrintLine("start: the web page cannot start: " + webError);
      statusToPage = nullptr;
      server.reset();
      current = nullptr;
      run.reset();
      desk.reset();
      return finish(kExitUsage);
    }
    const bool v6 = web.address.find(':') != std::string::npos;
    PrintLine("web: the page is at http://" + (v6 ? "[" + web.address + "]" : web.address) + ":" + std::to_string(port) + "/");
  }
  auto stopWeb = [&] {
    statusToPage = nullptr;
    if (server) server->Stop();
    if (desk) desk->Close();
  };
#else
  auto stopWeb = [] {};
#endif

  if (!run->Start()) {
    PrintLine("start: the first load could not be started");
    stopWeb();
    return finish(kExitDatabase);
  }
  PrintLine(once ? "start: loading orders (one load, one refresh, one pass)" : "start: loading orders");
  const int code = loop.Run();
  if (exitCode == kExitOk) exitCode = code;
  // --once leaves after the alerts it raised had their first try; what is
  // still pending goes out at the next start.
  if (once && !StopRequested() && outbox.Pending() > 0) {
    // The loop runs on until the sends have reported (or their time is up).
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(kDeliveryTimeoutSeconds + 5);
    loop.ClearQuit();
    Timer* drained = loop.NewTimer([&] {
      if (outbox.Pending() == 0 || std::chrono::steady_clock::now() >= limit || StopRequested()) loop.Quit(kExitOk);
    });
    drained->SetInterval(50);
    loop.Run();
    drained->SetInterval(0);
  }
  if (outbox.Pending() > 0)
    PrintLine("notify: " + std::to_string(outbox.Pending()) + " sends still pending; they go out at the next start");

  // What is left waiting: the unrated orders with their time left, and the
  // buyer-rated ones that wait for the seller's answer by hand.
  if (options->verbose && once && exitCode == kExitOk && !StopRequested()) {
    const OrderRows& unrated = run->Book().Unrated();
    for (int i = 0; i < unrated.RowCount(); ++i) {
      const OrderRow& row = unrated.Row(i);
      PrintLine("waiting: order=" + row.order.tid + " buyer=" + row.order.buyerNick + " 到期=" + row.timeLeft);
    }
    const OrderRows& buyerRated = run->Book().BuyerRated();
    for (int i = 0; i < buyerRated.RowCount(); ++i) {
      const Order& order = buyerRated.Row(i).order;
      PrintLine("buyer-rated: order=" + order.tid + " buyer=" + order.buyerNick);
    }
  }
  // A load still under way (a stop signal during it) ends at its next page;
  // the run waits for it as it goes.
  stopWeb();
  current = nullptr;
  run.reset();
  PrintLine("end: exit code " + std::to_string(exitCode));
  return finish(exitCode);
}

}  // namespace qm
