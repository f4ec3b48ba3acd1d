#pragma once
// The start-up of a run, from the program directory and the account name to
// a confirmed session and an open order database. Both front ends run these
// steps and only report what they return: the desktop in boxes, the runner in
// lines and exit codes. The desktop opens the account when "登  录" is
// pressed and confirms it once the account dialog has closed.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/session_check.h"
#include "rating/comments.h"
#include "rating/run_worker.h"
#include "settings/app_session.h"

namespace qm {

// The lines of both programs' --help on the program directory and the platform.
inline constexpr const char* kDirectoryOptionsHelp =
    "  --data-dir DIR   the program directory (Config.ini, comment files, database);\n"
    "                   it must exist. Without it: the executable's directory when a\n"
    "                   Config.ini is there (a portable copy), otherwise the user's\n"
    "                   data directory, $XDG_DATA_HOME/quillmere or\n"
    "                   ~/.local/share/quillmere, made when missing\n"
    "  --platform URL   one base URL for every platform service (the sandbox)\n";

enum class StartupOutcome {
  Ready,             // go on
  BadDataDir,        // the given program directory is missing or not a directory
  BadAccountName,    // the name cannot name the seller's files; nothing was made
  SettingsRefused,   // Config.ini or 手动评价内容.ini is not a file the program reads (too large, not a regular file),
                     // or the data directory or Config.ini belongs to another user or others may write it
  CommentFileHeld,   // the run lock is held by another run of the seller
  FilesUnusable,     // the run lock cannot be made (a directory that cannot be written) or the standing
                     // comment file cannot be read
  NoCredentials,     // empty "appkey" or "AppSecret"
  CommentTooLong,    // the standing comment is longer than the platform takes
  NoSessionKey,      // no stored "SessionKey"
  SessionRefused,    // the platform did not confirm the session
  DatabaseUnusable,  // the order database cannot be made or opened
};

// What the desktop's box and the runner's line say about an empty key or secret.
inline constexpr const char* kEmptyKeyTitle = "程序获取授权出错，将退出。";
inline constexpr const char* kEmptyKeyText = "‘AppKey’或‘AppSecret’为空，请检查！";

inline constexpr const char* kCommentTooLongTitle = "自动评价内容过长";

struct StartupStep {
  StartupOutcome outcome = StartupOutcome::Ready;
  std::string reason;  // why, for the outcomes that have more to say than their name
  std::string seller;  // ConfirmAccount: the seller the platform named
  std::vector<std::string> notes;  // ConfirmAccount: what it changed on the way (a file set aside)

  bool Ready() const { return outcome == StartupOutcome::Ready; }
};

// The longest account name, in characters.
inline constexpr std::size_t kAccountNameLimit = 64;

// Why an account name cannot be used, or the empty text when it can. The name
// becomes part of file names beside the program, so the empty name, path
// separators, "..", control characters, surrounding blanks (Config.ini trims
// them, the file names would not), the characters Windows file names cannot
// hold, characters outside GBK and names past kAccountNameLimit are refused.
std::string AccountNameProblem(const std::string& nick);

// The program's version, CMake's project version ("1.0.0").
const char* ProgramVersion();

// Where a run keeps its files ("the program directory"), and why there.
enum class ProgramDirSource {
  Given,     // --data-dir DIR
  Portable,  // the executable's directory, which already holds a Config.ini
  User,      // the user's own data directory, UserDataHome()/quillmere
};

struct ProgramDirChoice {
  std::string dir;  // no trailing separator
  ProgramDirSource source = ProgramDirSource::Given;
  std::string problem;  // why no directory can be used; empty when one can
};

// The name of the program's folder under the user's data directory.
inline constexpr const char* kUserDataFolder = "quillmere";

// Which directory a run uses, without making anything: the given one (which
// must exist and be a directory); without one, `executableDir` when a
// Config.ini is already there (a portable copy); otherwise the user's data
// directory. Whether a directory is writable decides nothing: as root every
// directory is.
ProgramDirChoice ChooseProgramDir(const std::string& given, const std::string& executableDir);

// How --help and the runner's start line name the source of a directory.
const char* ProgramDirSourceText(ProgramDirSource source);

// Sets the start-up record's programDir to the chosen directory. The user's data
// directory is made (for its owner only) when it is missing; a given or
// portable one is never made. A directory that another user owns, or that
// group or others may write, is refused (SettingsRefused, naming its mode). The temporary files that killed runs left
// there are removed.
StartupStep UseProgramDir(AppSession& session, const ProgramDirChoice& choice);
StartupStep UseProgramDir(AppSession& session, const std::string& given, const std::string& executableDir);

// The file a run of the seller holds locked from its start to its end
// (nick + ".lock" in the program directory); it exists only for the lock.
std::string RunLockFileName(const std::string& nick);

// The account name check, the settings files, then the run lock (held for
// the rest of the process), the standing comment file, then the key and secret: sets the record's sellerNick,
// AppKey, AppSecret and autoContent. Every file is the record's programDir's. The name used from here on is the Config.ini
// section's own (AccountSectionName). An empty key or secret is
// ConfirmAccount's to report.
StartupStep OpenAccount(AppSession& session, const std::string& nick);

// Before OpenAccount, where a name that is not set up leads to its setup
// instead: the name check and the settings files as OpenAccount makes them,
// then whether the account's section has a key and a secret (NoCredentials
// when not), in the data directory `dir`. Nothing is made. *section: the
// Config.ini section the name reads (the name itself for a new one).
StartupStep CheckAccount(const std::string& dir, const std::string& nick, std::string* section);

enum class RemovalOutcome {
  Removed,  // the account's section is gone from Config.ini
  InUse,    // a run of the account holds its run lock: nothing was changed
  Failed,   // Config.ini could not be changed, or the lock not checked
};

struct AccountRemoval {
  RemovalOutcome outcome = RemovalOutcome::Removed;
  std::string reason;  // for Failed
};

// Removes the account from Config.ini (its section, under any spelling of its
// name) while holding its run lock, so that no run of it starts meanwhile.
// The seller's other files (the order database, the standing comment, the
// rating log) stay where they are.
AccountRemoval RemoveAccount(const std::string& dir, const std::string& nick);

// A session check without an answer from the platform: the attempt (from
// 1), the pause before the next one and why (none, or the platform's trouble).
using UnreachableHandler = std::function<void(int attempt, int pauseMs, const SessionTrouble& why)>;
// The pause after the attempt-th unanswered session check: 2 s, doubling, at most a minute.
int UnreachablePauseMs(int attempt);

// After OpenAccount: the key and secret must be there, the standing comment
// must be one the platform takes (at most kCommentLimit characters), then the
// stored session key, the platform's seller check, the rating lead time and
// the order database, into `session`.
//
// The check is work that reports back: made, it returns at once. The
// platform's seller check runs on a worker of its own; a platform that cannot
// be reached says nothing about the key, so it is asked again after a growing
// pause until it answers or the run is stopped, and each unanswered attempt
// is told to `unreachable`. The outcome reaches `done` once, on the pump's
// thread, like every report of the run; a refusal before the platform is
// asked too. Destroying the check drops what it has not reported (after the
// request in hand).
class AccountConfirmation {
 public:
  using Done = std::function<void(const StartupStep&)>;
  AccountConfirmation(AppSession& session, EventPump& pump, UnreachableHandler unreachable, Done done);
  ~AccountConfirmation();
  AccountConfirmation(const AccountConfirmation&) = delete;
  AccountConfirmation& operator=(const AccountConfirmation&) = delete;

 private:
  struct Answer;
  // The steps after the platform's answer, on the pump's thread.
  StartupStep AfterAnswer(const Answer& answer);
  void Finish(const StartupStep& step);

  AppSession& session_;
  Done done_;
  // False once destroyed: the refusal posted before the platform was asked
  // and the unanswered attempts told meanwhile reach nobody then.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  RunWorker worker_;
};

// For the read-only commands that work beside a running instance of the
// same seller: the name check, the settings files, the key, secret and stored
// session key, without taking the run lock, opening the
// ledger or touching the order database. NoCredentials or NoSessionKey when
// one of them is missing.
StartupStep OpenAccountToRead(AppSession& session, const std::string& nick);
// Less again, for the commands that edit or read the seller's own files:
// the name check and the settings files; sets the record's sellerNick.
StartupStep OpenAccountFiles(AppSession& session, const std::string& nick);

}  // namespace qm
