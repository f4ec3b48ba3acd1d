#pragma once
// The start-up of a run, from the program directory and the account name to
// a confirmed session and an open order database. Both front ends run these
// steps and only report what they return: the desktop in boxes, the runner in
// lines and exit codes. The desktop opens the account when "登  录" is
// pressed and confirms it once the account dialog has closed.
#include <cstddef>
#include <string>

namespace qm {

enum class StartupOutcome {
  Ready,             // go on
  BadDataDir,        // the given program directory is missing or not a directory
  BadAccountName,    // the name cannot name the seller's files; nothing was made
  SettingsRefused,   // Config.ini or 手动评价内容.ini is not a file the program reads (too large, not a regular file)
  CommentFileHeld,   // the standing comment file cannot be had: another run holds it
  NoCredentials,     // empty "appkey" or "AppSecret"
  CommentTooLong,    // the standing comment is longer than the platform takes
  NoSessionKey,      // no stored "SessionKey"
  SessionRefused,    // the platform did not confirm the session
  DatabaseUnusable,  // the order database cannot be made or opened
};

// What the desktop's box and the runner's line say about an empty key or secret.
inline constexpr const char* kEmptyKeyTitle = "程序获取授权出错，将退出。";
inline constexpr const char* kEmptyKeyText = "‘AppKey’或‘AppSecret’为空，请检查！";

// The platform takes a rating comment of at most this many characters.
inline constexpr std::size_t kCommentLimit = 500;
inline constexpr const char* kCommentTooLongTitle = "自动评价内容过长";

struct StartupStep {
  StartupOutcome outcome = StartupOutcome::Ready;
  std::string reason;  // why, for the outcomes that have more to say than their name
  std::string seller;  // ConfirmAccount: the seller the platform named

  bool Ready() const { return outcome == StartupOutcome::Ready; }
};

// Why an account name cannot be used, or the empty text when it can. The name
// becomes part of file names beside the program, so the empty name, path
// separators, "..", control characters, surrounding blanks (Config.ini trims
// them, the file names would not), the characters Windows file names cannot
// hold and characters outside GBK are refused.
std::string AccountNameProblem(const std::string& nick);

// Sets Session().programDir. A directory given on the command line must exist
// and be a directory (it is never made); without one, `fallback` (the
// executable's directory) is used as it is. The temporary files that killed
// runs left there are removed.
StartupStep UseProgramDir(const std::string& given, const std::string& fallback);

// The account name check, the settings files, then the standing comment file
// (held for the rest of the run), then the key and secret: sets Session().sellerNick, AppKey,
// AppSecret and autoContent. The name used from here on is the Config.ini
// section's own (AccountSectionName). An empty key or secret is
// ConfirmAccount's to report.
StartupStep OpenAccount(const std::string& nick);

// After OpenAccount: the key and secret must be there, the standing comment
// must be one the platform takes (at most kCommentLimit characters), then the stored session
// key, the platform's seller check, the rating lead time and the order
// database.
StartupStep ConfirmAccount();

// For the read-only commands that work beside a running instance of the
// same seller: the name check, the settings files, the key, secret and stored
// session key, without taking the standing comment file's lock, opening the
// ledger or touching the order database. NoCredentials or NoSessionKey when
// one of them is missing.
StartupStep OpenAccountToRead(const std::string& nick);

}  // namespace qm
