#pragma once
// The platform's clock and its time texts. The platform writes and expects
// Beijing time (UTC+8, no daylight saving) whatever the machine's zone: trade
// end times, taobao.time.get and the timestamp of every signed request. The
// core reads the time only through a PlatformClock it is handed.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

inline constexpr int kRatingPeriodDays = 15;
inline constexpr int kPlatformUtcOffsetSeconds = 8 * 3600;

// The platform's clock: seconds since the epoch (UTC), with fractions.
//
// Until the platform has told its time, the machine's clock. Once it has
// (NoteTime, at the start and at every refresh), the platform's time carried
// forward on the elapsed clock, which neither a date set by hand nor a clock
// service moves and which goes on while the machine sleeps; while the
// machine's clock stays within kLocalClockTolerance of that, the machine's
// clock itself (a difference that small moves no deadline that matters, and
// the platform takes timestamps ten minutes either side). So a machine clock
// set a day wrong, or set while the program runs, neither moves deadlines nor
// gets requests refused for their timestamp.
//
// One per program, kept with what it knows of the platform (PlatformLink);
// safe to read and note from any thread.
inline constexpr double kLocalClockTolerance = 120;

class PlatformClock {
 public:
  // The machine's own clocks.
  PlatformClock() = default;
  // `wall` and `elapsed` stand for the machine's wall clock and its elapsed
  // clock (util/elapsed_clock.h); either may be empty for the system's.
  PlatformClock(std::function<double()> wall, std::function<double()> elapsed);
  PlatformClock(const PlatformClock&) = delete;
  PlatformClock& operator=(const PlatformClock&) = delete;

  // The platform's time now.
  double Now() const;
  // The machine's own wall clock, and its elapsed clock.
  double Local() const;
  double Elapsed() const;

  // The platform gave its time as `platformTime` at `elapsedAt` (Elapsed()
  // when the answer was on its way: the middle of the exchange).
  void NoteTime(double platformTime, double elapsedAt);
  // Whether the platform has told its time.
  bool TimeKnown() const;

 private:
  struct Said {
    bool known = false;
    double platformAt = 0, elapsedAt = 0;
  };
  Said Snapshot() const;

  // The machine's clocks are called outside the lock, so a clock given may
  // itself be slow or read this clock from another thread.
  const std::function<double()> wall_, elapsed_;
  mutable std::mutex mutex_;
  Said said_;
};

// An HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT", the one form servers send)
// -> seconds since the epoch; nullopt for anything else.
std::optional<std::int64_t> ParseHttpDate(std::string_view text);
// Seconds since the epoch -> that form.
std::string FormatHttpDate(std::int64_t epochSeconds);

// "YYYY-MM-DD HH:MM:SS" read as Beijing time -> seconds since the epoch.
// nullopt unless the text is exactly such a time: 19 characters, ASCII digits
// and separators in place, years 1900 to 9999, a real day of the month (29
// February only in leap years), hour 0-23, minute and second 0-59. Cheap
// enough for every row of a pass: no C library time calls, no allocation.
std::optional<std::int64_t> ParsePlatformTime(std::string_view text);
// Seconds since the epoch -> the same text in Beijing time. Years outside
// 0-9999 come out with as many digits as they need.
std::string FormatPlatformTime(std::int64_t epochSeconds);

// Whole hours from `now` to the end of the rating period (fifteen days after
// endTime), fraction dropped toward zero, negative once passed; nullopt when
// endTime is unreadable or `now` is not a usable time (not finite).
std::optional<std::int64_t> HoursLeft(std::string_view endTime, double now);
// Still inside the fifteen-day period at `now`: (days since end) - 15 must not
// exceed 0.0000001. Unreadable: outside.
bool WithinRatingPeriod(std::string_view endTime, double now);

}  // namespace qm
