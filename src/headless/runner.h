#pragma once
// The runner without windows. `quillmere --headless ...` and quillmere-headless
// both come here with their whole command line:
//
//   quillmere-headless --account NICK [--data-dir DIR] [--platform URL] [--once]
//   quillmere-headless --account NICK [--data-dir DIR] [--platform URL] --authorize
//   quillmere-headless --account NICK [--data-dir DIR] --test-alert
//
// It runs the desktop's start-up without windows (the seller's key, secret and
// stored "SessionKey" from Config.ini, the standing comment, the seller check,
// the order database), then the same first load, timers and passes on an
// in-memory event loop, printing one line per event on standard output, until
// SIGINT or SIGTERM. With --once it does one first load (with its refresh and
// pass) and exits. --authorize obtains the session key instead (authorize.h).
// --test-alert sends a test alert to each destination the account's alerts go
// to (alerts/alert_settings.h), one try each, and exits.
//
// Exit codes, the one table of the whole project (also in README.md):
//   0  finished: --once done, or stopped by SIGINT/SIGTERM
//   2  bad command line, account name or data directory
//   3  another run holds the account's lock (NICK.lock), or the program directory cannot be written
//   4  empty "appkey" or "AppSecret" for the account, or a standing comment
//      the platform cannot take
//   5  no stored "SessionKey" for the account
//   6  the platform did not confirm the session (seller check failed)
//   7  the order database cannot be used, or the first load failed or gave up
//   8  --once: the platform did not answer "taobao.time.get" at the refresh
//      (a run left going waits for the platform instead)
//   9  --authorize got no token, or a key the platform names another seller for
//  10  a settings file was refused (too large, not a regular file), or the
//      program directory or Config.ini is another user's or open to others' writes
//  11  --test-alert: no destination is set, the settings cannot be used, or
//      a destination did not take the test alert
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
inline constexpr int kExitAlertNotDelivered = 11;

int RunHeadless(int argc, char** argv);

}  // namespace qm
