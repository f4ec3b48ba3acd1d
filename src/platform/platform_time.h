#pragma once
// The platform's clock and its time texts. The platform writes and expects
// Beijing time (UTC+8, no daylight saving) whatever the machine's zone: trade
// end times, taobao.time.get and the timestamp of every signed request. The
// core reads the time only through PlatformNow(), so tests can set it.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

inline constexpr int kRatingPeriodDays = 15;
inline constexpr int kPlatformUtcOffsetSeconds = 8 * 3600;

// The platform's clock: seconds since the epoch (UTC), with fractions. The
// system clock unless a test set one.
double PlatformNow();
// Tests set the clock (nullptr: back to the system clock). Process-wide; safe
// to call while other threads read the clock.
void SetPlatformClock(std::function<double()> now);

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
