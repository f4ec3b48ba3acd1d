#pragma once
// The runner without windows. `quillmere --headless ...` and quillmere-headless
// both come here with their whole command line:
//
//   quillmere-headless --account NICK [--data-dir DIR] [--platform URL] [--once]
//
// It runs the desktop's start-up without windows (the seller's key, secret and
// stored "SessionKey" from Config.ini, the standing comment, the seller check,
// the order database), then the same first load, timers and passes on an
// in-memory event loop, printing one line per event on standard output, until
// SIGINT or SIGTERM. With --once it does one first load (with its refresh and
// pass) and exits.
//
// Exit codes (kExit* below):
//   0  finished: --once done, or stopped by SIGINT/SIGTERM
//   2  bad command line
//   3  the standing comment file cannot be opened (another run holds it)
//   4  empty "appkey" or "AppSecret" for the account
//   5  no stored "SessionKey" for the account (authorise once with the desktop)
//   6  the platform did not confirm the session (seller check failed)
//   7  the order database cannot be made or opened
//   8  the platform stopped answering "taobao.time.get" (the refresh ended the run)
namespace qm {

inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitCommentFile = 3;
inline constexpr int kExitNoCredentials = 4;
inline constexpr int kExitNoSessionKey = 5;
inline constexpr int kExitSessionRefused = 6;
inline constexpr int kExitDatabase = 7;
inline constexpr int kExitPlatformDown = 8;

int RunHeadless(int argc, char** argv);

}  // namespace qm
