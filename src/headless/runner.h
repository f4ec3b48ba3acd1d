#pragma once
// The runner without windows. `quillmere --headless ...` and quillmere-headless
// both come here with their whole command line:
//
//   quillmere-headless --account NICK [--data-dir DIR] [--platform URL] [--once]
//   quillmere-headless --account NICK [--data-dir DIR] [--platform URL] --authorize
//
// It runs the desktop's start-up without windows (the seller's key, secret and
// stored "SessionKey" from Config.ini, the standing comment, the seller check,
// the order database), then the same first load, timers and passes on an
// in-memory event loop, printing one line per event on standard output, until
// SIGINT or SIGTERM. With --once it does one first load (with its refresh and
// pass) and exits. --authorize obtains the session key instead (authorize.h).
//
// Exit codes, the one table of the whole project (also in README.md and the
// manual page; tests/packaging/exit_codes_test.py keeps the three alike):
//   0  finished (--once done, or stopped by a signal)
//   2  bad command line, account name or data directory
//   3  another run of the account holds its lock (NICK.lock in the program directory), the directory
//      cannot be written, or the standing comment file cannot be read or made
//   4  empty appkey or AppSecret, or a standing comment the platform cannot take
//   5  no stored SessionKey (--authorize gets one)
//   6  the platform did not confirm the session
//   7  the order database cannot be used, the first load failed or was incomplete (--once), a listing
//      gave up (--list), or the rating log cannot be read or written (--export-log)
//   8  --once: the platform did not answer taobao.time.get at the refresh (a run left going waits for
//      the platform instead)
//   9  --authorize got no token, or a key of another seller
//  10  a settings file was refused (too large, not a regular file, a keep list that cannot be read)
//      or cannot be written (--authorize), or the program directory or Config.ini is another user's
//      or open to others' writes
namespace qm {

inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitCommentFile = 3;
inline constexpr int kExitNoCredentials = 4;
inline constexpr int kExitUnsendableComment = 4;
inline constexpr int kExitNoSessionKey = 5;
inline constexpr int kExitSessionRefused = 6;
inline constexpr int kExitDatabase = 7;
inline constexpr int kExitPlatformDown = 8;
inline constexpr int kExitNoToken = 9;
inline constexpr int kExitSettingsFile = 10;

int RunHeadless(int argc, char** argv);

}  // namespace qm
