#include "rating/startup.h"

#include <filesystem>
#include <string_view>
#include <system_error>

#include "orders/order_db.h"
#include "platform/session_check.h"
#include "rating/comments.h"
#include "rating/rating_ledger.h"
#include "rating/rating_log.h"
#include "rating/schedule.h"
#include "settings/app_session.h"
#include "settings/config.h"
#include "util/file_guard.h"
#include "util/file_io.h"
#include "util/held_file.h"
#include "util/program_paths.h"
#include "util/text_codec.h"
#include "util/event_pump.h"
#include "util/stop.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

StartupStep Stop(StartupOutcome outcome, std::string reason = {}) {
  StartupStep step;
  step.outcome = outcome;
  step.reason = std::move(reason);
  return step;
}

}  // namespace

std::string AccountNameProblem(const std::string& nick) {
  if (nick.empty()) return "帐号名称不能为空。";
  if (nick.find('/') != std::string::npos || nick.find('\\') != std::string::npos) {
    return "帐号名称不能包含路径分隔符（“/”或“\\”）。";
  }
  if (nick.find("..") != std::string::npos) return "帐号名称不能包含“..”。";
  if (nick.front() == ' ' || nick.back() == ' ') return "帐号名称的首尾不能有空格。";
  for (unsigned char ch : nick) {
    if (ch < 0x20 || ch == 0x7F) return "帐号名称不能包含控制字符（如换行或制表符）。";
  }
  const std::u16string wide = Utf8ToUtf16(nick);
  for (char16_t ch : wide) {
    if (ch >= 0x80 && ch <= 0x9F) return "帐号名称不能包含控制字符（如换行或制表符）。";
    if (std::u16string_view(u"<>:\"|?*").find(ch) != std::u16string_view::npos) {
      return "帐号名称不能包含文件名不允许的字符 < > : \" | ? *。";
    }
  }
  if (!GbkCanHold(nick)) return "帐号名称含有GBK编码无法表示的字符，无法用作文件名。";
  // With the longest of its files' endings the name must stay within a file
  // name's 255 bytes; the platform's own names are far shorter. GBK holds no
  // character outside the BMP, so each is one UTF-16 unit.
  if (wide.size() > kAccountNameLimit) {
    return "帐号名称过长（最多 " + std::to_string(kAccountNameLimit) + " 个字）。";
  }
  return {};
}

std::string RunLockFileName(const std::string& nick) { return nick + ".lock"; }

const char* ProgramVersion() { return QM_VERSION; }

const char* ProgramDirSourceText(ProgramDirSource source) {
  switch (source) {
    case ProgramDirSource::Given: return "given with --data-dir";
    case ProgramDirSource::Portable: return "the program's own directory, which holds a Config.ini";
    case ProgramDirSource::User: return "the user's data directory";
  }
  return "";
}

ProgramDirChoice ChooseProgramDir(const std::string& given, const std::string& executableDir) {
  ProgramDirChoice choice;
  std::error_code ec;
  if (!given.empty()) {
    const fs::path path(std::u8string(given.begin(), given.end()));
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status)) {
      choice.problem = "数据目录“" + given + "”不存在。";
    } else if (!fs::is_directory(status)) {
      choice.problem = "数据目录“" + given + "”不是目录。";
    }
    const fs::path absolute = fs::absolute(path, ec).lexically_normal();
    std::u8string text = (ec ? path : absolute).u8string();
    // "DIR/" normalises to "DIR/"; the program directory has no trailing separator.
    while (text.size() > 1 && (text.back() == u8'/' || text.back() == u8'\\')) text.pop_back();
    choice.dir.assign(text.begin(), text.end());
    return choice;
  }
  // Sellers keep portable copies with their settings beside the program; an
  // installed program finds none there and keeps the user's files apart.
  // The directory is UTF-8; a plain std::string would be read in the ANSI code page on Windows.
  const fs::path exeDir(std::u8string(executableDir.begin(), executableDir.end()));
  if (!executableDir.empty() && fs::exists(exeDir / kConfigFileName, ec)) {
    choice.dir = executableDir;
    choice.source = ProgramDirSource::Portable;
    return choice;
  }
  choice.source = ProgramDirSource::User;
  const std::string base = UserDataHome();
  if (base.empty()) {
    choice.problem = "找不到用户的数据目录（没有 HOME，也没有 XDG_DATA_HOME），请用 --data-dir 指定数据目录。";
    return choice;
  }
  choice.dir = base + "/" + kUserDataFolder;
  return choice;
}

StartupStep UseProgramDir(AppSession& s, const ProgramDirChoice& choice) {
  if (!choice.problem.empty()) return Stop(StartupOutcome::BadDataDir, choice.problem);
  if (choice.source == ProgramDirSource::User) {
    const fs::path path(std::u8string(choice.dir.begin(), choice.dir.end()));
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status)) {
      fs::create_directories(path, ec);
      // It will hold the seller's key, secret and session key.
      if (!ec) fs::permissions(path, fs::perms::owner_all, fs::perm_options::replace, ec);
      if (ec) {
        return Stop(StartupOutcome::BadDataDir,
                    "无法创建数据目录“" + choice.dir + "”：" + ec.message() + "。");
      }
    } else if (!fs::is_directory(status)) {
      return Stop(StartupOutcome::BadDataDir, "数据目录“" + choice.dir + "”不是目录。");
    }
  }
  // The directory holds the seller's key, secret and session: one that
  // another user owns, or others may write, could hand us their files.
  if (std::string problem = ForeignOwnershipProblem(choice.dir); !problem.empty()) {
    return Stop(StartupOutcome::SettingsRefused, "数据目录" + problem);
  }
  s.programDir = choice.dir;
  RemoveStrayTemporaries(choice.dir);
  return {};
}

StartupStep UseProgramDir(AppSession& s, const std::string& given, const std::string& executableDir) {
  return UseProgramDir(s, ChooseProgramDir(given, executableDir));
}

// Why a settings file beside the program will not be read, or empty. A
// missing file is fine: it is made when first written.
static std::string SettingsFileProblem(const std::string& dir, const std::string& name) {
  switch (CheckReadableFile(PathIn(dir, name))) {
    case FileReadStatus::Missing: return {};
    case FileReadStatus::Ok: break;
    case FileReadStatus::NotRegular: return "“" + name + "”不是普通文件。";
    case FileReadStatus::TooLarge:
      return "“" + name + "”超过 " + std::to_string(kSettingsFileLimit >> 20) + " MB，不是本程序的设置文件。";
    case FileReadStatus::Failed: return "“" + name + "”无法读取。";
  }
  if (name == std::string_view(kConfigFileName)) return ForeignOwnershipProblem(PathIn(dir, name));
  return {};
}

StartupStep OpenAccount(AppSession& s, const std::string& typed) {
  // "nick" and "NICK" read the same section; they must also take the same
  // lock, or two runs would rate every order of the seller twice.
  if (StartupStep files = OpenAccountFiles(s, typed); !files.Ready()) return files;
  const std::string nick = s.sellerNick;
  // The lock stays held for the whole run, on a file that nothing replaces.
  std::string unused;
  switch (HoldFileExclusively(s.PathOf(RunLockFileName(nick)), "", &unused)) {
    case HeldFileStatus::Ok: break;
    case HeldFileStatus::Busy:
      return Stop(StartupOutcome::CommentFileHeld,
                  "the account " + nick + " is in use: another run holds " + RunLockFileName(nick));
    case HeldFileStatus::Failed:
      if (!DirectoryWritable(s.programDir)) {
        return Stop(StartupOutcome::FilesUnusable, "the data directory " + s.programDir + " cannot be written");
      }
      return Stop(StartupOutcome::FilesUnusable,
                  "the lock file " + s.PathOf(RunLockFileName(nick)) + " cannot be made or opened");
  }
  if (!LoadAutoComment(s.programDir, nick, &s.autoContent)) {
    return Stop(StartupOutcome::FilesUnusable,
                "the standing comment file " + AutoCommentFileName(nick) + " cannot be read or made");
  }
  s.sellerNick = nick;
  s.AppKey = ReadAppKey(s.programDir, nick);
  s.AppSecret = ReadAppSecret(s.programDir, nick);
  return {};
}

int UnreachablePauseMs(int attempt) {
  int ms = 2000;
  for (int i = 1; i < attempt && ms < 60000; ++i) ms *= 2;
  return ms < 60000 ? ms : 60000;
}

// The checks before the platform is asked.
static StartupStep BeforeAsking(AppSession& s) {
  if (s.AppKey.empty() || s.AppSecret.empty()) return Stop(StartupOutcome::NoCredentials);
  // A comment the platform refuses would fail every rating of the run.
  if (const std::size_t length = CommentLength(s.autoContent); length > kCommentLimit) {
    return Stop(StartupOutcome::CommentTooLong,
                "“" + AutoCommentFileName(s.sellerNick) + "”中的自动评价内容有 " + std::to_string(length) +
                    " 个字，淘宝最多接受 " + std::to_string(kCommentLimit) + " 个字。请缩短后再启动。");
  }
  // The authorization stores the session key in Config.ini; the one stored
  // there is what this run uses.
  s.SessionKey = ReadSessionKey(s.programDir, s.sellerNick);
  if (s.SessionKey.empty()) return Stop(StartupOutcome::NoSessionKey);
  return {};
}

struct AccountConfirmation::Answer {
  SessionCheck check = SessionCheck::Unreachable;
  SellerIdentity who;
};

AccountConfirmation::AccountConfirmation(AppSession& session, EventPump& pump, UnreachableHandler unreachable,
                                         Done done)
    : session_(session), done_(std::move(done)), worker_(pump) {
  if (StartupStep refused = BeforeAsking(session_); !refused.Ready()) {
    pump.Post([this, alive = alive_, refused] {
      if (*alive) Finish(refused);
    });
    return;
  }
  RunWorker* worker = &worker_;
  worker_.Run<Answer>(
      [account = session_.RunAccount(), unreachable = std::move(unreachable), &pump, alive = alive_, worker] {
        Answer answer;
        for (int attempt = 1;; ++attempt) {
          SessionTrouble why;
          answer.check = confirm_session(account, &answer.who, &why);
          if (answer.check != SessionCheck::Unreachable || StopRequested() || worker->Ending()) return answer;
          const int pauseMs = UnreachablePauseMs(attempt);
          if (unreachable) {
            pump.Post([alive, unreachable, attempt, pauseMs, why] {
              if (*alive) unreachable(attempt, pauseMs, why);
            });
          }
          // False once the run is stopped or the check dropped.
          if (!worker->Pause(pauseMs)) return answer;
        }
      },
      [this](Answer answer) { Finish(AfterAnswer(answer)); });
}

AccountConfirmation::~AccountConfirmation() { *alive_ = false; }

void AccountConfirmation::Finish(const StartupStep& step) {
  // `done` may drop this check: nothing of it is used after the call.
  const Done done = std::move(done_);
  done_ = nullptr;
  if (done) done(step);
}

StartupStep AccountConfirmation::AfterAnswer(const Answer& answer) {
  AppSession& s = session_;
  if (answer.check != SessionCheck::Confirmed || StopRequested()) return Stop(StartupOutcome::SessionRefused);
  const SellerIdentity& who = answer.who;
  s.ratingHours = ReadRatingHours(s.programDir, s.sellerNick);
  s.reloadMinutes = ReadReloadMinutes(s.programDir, s.sellerNick);
  std::string error;
  StartupStep ready;
  if (!PrepareOrderDatabase(s.programDir, s.sellerNick, &error, &ready.notes)) return Stop(StartupOutcome::DatabaseUnusable, error);
  ready.seller = who.nick;
  return ready;
}

// The name check and the settings files; *nick: the section the name reads.
static StartupStep CheckAccountFiles(const std::string& dir, const std::string& typed, std::string* nick) {
  if (std::string problem = AccountNameProblem(typed); !problem.empty()) {
    return Stop(StartupOutcome::BadAccountName, std::move(problem));
  }
  for (const char* name : {kConfigFileName, kManualCommentFile}) {
    if (std::string problem = SettingsFileProblem(dir, name); !problem.empty()) {
      return Stop(StartupOutcome::SettingsRefused, std::move(problem));
    }
  }
  *nick = AccountSectionName(dir, typed);
  if (std::string problem = AccountNameProblem(*nick); !problem.empty()) {
    return Stop(StartupOutcome::BadAccountName, std::move(problem));
  }
  return {};
}

StartupStep OpenAccountFiles(AppSession& s, const std::string& typed) {
  std::string nick;
  if (StartupStep files = CheckAccountFiles(s.programDir, typed, &nick); !files.Ready()) return files;
  s.sellerNick = nick;
  return {};
}

StartupStep CheckAccount(const std::string& dir, const std::string& typed, std::string* section) {
  std::string nick;
  if (StartupStep files = CheckAccountFiles(dir, typed, &nick); !files.Ready()) return files;
  *section = nick;
  if (!AccountIsSetUp(dir, nick)) return Stop(StartupOutcome::NoCredentials);
  return {};
}

AccountRemoval RemoveAccount(const std::string& dir, const std::string& typed) {
  AccountRemoval removal;
  const std::string nick = AccountSectionName(dir, typed);
  if (std::string problem = SettingsFileProblem(dir, kConfigFileName); !problem.empty()) {
    removal.outcome = RemovalOutcome::Failed;
    removal.reason = std::move(problem);
    return removal;
  }
  const auto remove = [&removal, &dir, &nick] {
    if (!RemoveAccountSection(dir, nick)) {
      removal.outcome = RemovalOutcome::Failed;
      removal.reason = "无法写入“" + ConfigPath(dir) + "”。";
    }
  };
  // A section whose name cannot name files (written by hand) never had a
  // run: there is no lock to ask.
  if (!AccountNameProblem(nick).empty()) {
    remove();
    return removal;
  }
  switch (WithFileUnheld(PathIn(dir, RunLockFileName(nick)), remove)) {
    case HeldFileStatus::Ok: break;
    case HeldFileStatus::Busy: removal.outcome = RemovalOutcome::InUse; break;
    case HeldFileStatus::Failed:
      removal.outcome = RemovalOutcome::Failed;
      removal.reason = "无法检查“" + RunLockFileName(nick) + "”是否正被使用。";
      break;
  }
  return removal;
}

StartupStep OpenAccountToRead(AppSession& s, const std::string& typed) {
  if (StartupStep files = OpenAccountFiles(s, typed); !files.Ready()) return files;
  s.AppKey = ReadAppKey(s.programDir, s.sellerNick);
  s.AppSecret = ReadAppSecret(s.programDir, s.sellerNick);
  if (s.AppKey.empty() || s.AppSecret.empty()) return Stop(StartupOutcome::NoCredentials);
  s.SessionKey = ReadSessionKey(s.programDir, s.sellerNick);
  if (s.SessionKey.empty()) return Stop(StartupOutcome::NoSessionKey);
  s.ratingHours = ReadRatingHours(s.programDir, s.sellerNick);
  return {};
}

}  // namespace qm
