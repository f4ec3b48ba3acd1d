#pragma once
// The timed work of the main window. 时钟1 runs RunAutoRatingPass every five
// seconds: orders of the both-unrated list whose rating deadline (fifteen days
// after the trade ended) is at most ratingHours away are rated "good" with the
// standing comment; the others show the time left in "到期". 时钟2 runs
// refresh_cycle every ten minutes: the buyer-rated list is rebuilt, the
// gateway must still answer "taobao.time.get" (or the program ends after a
// message), and the embedded browser's HTTP cache is cleared. Each handler
// stops its own timer first and re-arms it last, so its runs never overlap and
// each period counts from the end of the previous run. The end of the first
// load runs each handler once, which is what arms the two timers.
//
// Everything here runs on the UI thread and reaches the windows through
// CurrentMainView().
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

inline constexpr int kAutoPassIntervalMs = 5000;    // 时钟1
inline constexpr int kRefreshIntervalMs = 600000;   // 时钟2

// Used when "评价时间" is missing, empty, not a number, negative or not finite.
inline constexpr float kDefaultRatingHours = 24.0f;

inline constexpr const char* kPlatformDownTitle = "连接淘宝API服务器失败";
inline constexpr const char* kPlatformDownText = "淘宝API服务端出问题了，程序将关闭。";
// The exit code of the program after the failed platform check.
inline constexpr int kPlatformDownExitCode = 0;

// The text shown in "到期" for a number of whole hours: days and hours, each
// at least two digits ("00天01小时", "100天00小时").
std::string FormatTimeLeft(std::int32_t hours);
// The "到期" text of an order ending at `endTime` (the platform's time text)
// at platform time `now`, an order past its deadline showing none left;
// nullopt when the end time is not a time.
std::optional<std::string> TimeLeftText(std::string_view endTime, double now);

// The lead time from a "评价时间" text: a decimal number of hours (fractions
// allowed, surrounding blanks ignored); kDefaultRatingHours otherwise.
float ParseRatingHours(std::string_view text);
// Session().ratingHours from the seller's "评价时间" in Config.ini.
void LoadRatingHours(const std::string& nick);

// The 时钟1 handler (see above).
void RunAutoRatingPass();

// True when the gateway answers "taobao.time.get" with a 19-character time
// (fetched with the blocking web_get_simple).
bool check_platform_time();

// The time check is made again after each of these pauses in turn (events
// keep running) before the platform counts as gone: three checks over about a
// minute. Tests shorten them.
inline const std::vector<int> kDefaultTimeCheckPausesMs = {20000, 40000};
void SetTimeCheckRetryPauses(std::vector<int> pausesMs);

// The 时钟2 handler (see above). While no first load has completed (one gave
// up, or its database could not be used) it starts the load again instead,
// whose end runs the refresh and re-arms 时钟2. After a failed platform check
// (every retry failed) it shows
// kPlatformDownText and ends the program (MainView::exitProgram with
// kPlatformDownExitCode); 时钟2 then stays stopped.
void refresh_cycle();

// What the end of the first load runs: refresh_cycle once, then
// RunAutoRatingPass once. Called from a worker thread it queues itself for
// the UI thread (the lists and timers belong to it).
void RunFirstLoadFollowUp();

// True once a failed platform check has ended the program; every handler then
// returns at once. ResumeSchedule clears it and any reload still due (for a new
// run in the same process).
bool ScheduleStopped();
void ResumeSchedule();

// Hooks RunFirstLoadFollowUp to the end of the first load. Call once at start-up.
void InstallSchedule();

}  // namespace qm
