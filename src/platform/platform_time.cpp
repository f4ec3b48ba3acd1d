#include "platform/platform_time.h"

#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>
#include <utility>

#include "util/elapsed_clock.h"

namespace qm {
namespace {

constexpr std::int64_t kDaySeconds = 86400;
constexpr double kPeriodMargin = 0.0000001;

// Days since 1970-01-01 of a proleptic Gregorian date.
constexpr std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct CivilDate {
  std::int64_t year;
  unsigned month, day;
};

constexpr CivilDate CivilFromDays(std::int64_t z) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2), m, d};
}

constexpr bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

constexpr int DaysInMonth(int y, int m) {
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// The value of text[pos, pos+count) when all are ASCII digits, else -1.
int Digits(std::string_view text, std::size_t pos, std::size_t count) {
  int v = 0;
  for (std::size_t i = pos; i < pos + count; ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return -1;
    v = v * 10 + (c - '0');
  }
  return v;
}

void AppendTwoDigits(std::string& out, unsigned v) {
  out += static_cast<char>('0' + v / 10);
  out += static_cast<char>('0' + v % 10);
}

double SystemNow() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

double Read(const std::function<double()>& source, double (*system)()) { return source ? source() : system(); }

constexpr const char* kWeekdays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};  // 1970-01-01 was a Thursday
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

PlatformClock::PlatformClock(std::function<double()> wall, std::function<double()> elapsed)
    : wall_(std::move(wall)), elapsed_(std::move(elapsed)) {}

PlatformClock::Said PlatformClock::Snapshot() const {
  std::lock_guard lock(mutex_);
  return said_;
}

double PlatformClock::Local() const { return Read(wall_, SystemNow); }

double PlatformClock::Elapsed() const { return Read(elapsed_, ElapsedSeconds); }

double PlatformClock::Now() const {
  const Said c = Snapshot();
  const double wall = Local();
  if (!c.known) return wall;
  const double carried = c.platformAt + (Elapsed() - c.elapsedAt);
  return std::fabs(wall - carried) <= kLocalClockTolerance ? wall : carried;
}

void PlatformClock::NoteTime(double platformTime, double elapsedAt) {
  if (!std::isfinite(platformTime) || !std::isfinite(elapsedAt)) return;
  std::lock_guard lock(mutex_);
  said_ = Said{true, platformTime, elapsedAt};
}

bool PlatformClock::TimeKnown() const { return Snapshot().known; }

std::optional<std::int64_t> ParseHttpDate(std::string_view s) {
  // "Sun, 06 Nov 1994 08:49:37 GMT": 29 characters.
  if (s.size() != 29 || s[3] != ',' || s[4] != ' ' || s[7] != ' ' || s[11] != ' ' || s[16] != ' ' ||
      s.substr(25) != " GMT")
    return std::nullopt;
  int month = 0;
  for (int m = 0; m < 12; ++m)
    if (s.substr(8, 3) == kMonths[m]) month = m + 1;
  if (month == 0) return std::nullopt;
  // The rest has the platform's own layout once rearranged; its zone is UTC, not Beijing.
  std::string text = std::string(s.substr(12, 4)) + "-00-" + std::string(s.substr(5, 2)) + " " + std::string(s.substr(17, 8));
  text[5] = static_cast<char>('0' + month / 10);
  text[6] = static_cast<char>('0' + month % 10);
  const auto beijing = ParsePlatformTime(text);
  if (!beijing) return std::nullopt;
  return *beijing + kPlatformUtcOffsetSeconds;
}

std::string FormatHttpDate(std::int64_t epochSeconds) {
  const std::string beijing = FormatPlatformTime(epochSeconds - kPlatformUtcOffsetSeconds);
  if (beijing.size() != 19) return {};
  std::int64_t days = epochSeconds / kDaySeconds;
  if (epochSeconds % kDaySeconds < 0) --days;
  const int month = (beijing[5] - '0') * 10 + (beijing[6] - '0');
  return std::string(kWeekdays[((days % 7) + 7) % 7]) + ", " + beijing.substr(8, 2) + " " + kMonths[month - 1] + " " +
         beijing.substr(0, 4) + " " + beijing.substr(11) + " GMT";
}

std::optional<std::int64_t> ParsePlatformTime(std::string_view s) {
  if (s.size() != 19 || s[4] != '-' || s[7] != '-' || s[10] != ' ' || s[13] != ':' || s[16] != ':')
    return std::nullopt;
  const int y = Digits(s, 0, 4), mo = Digits(s, 5, 2), d = Digits(s, 8, 2);
  const int h = Digits(s, 11, 2), mi = Digits(s, 14, 2), se = Digits(s, 17, 2);
  if (y < 1900 || mo < 1 || mo > 12 || d < 1 || d > DaysInMonth(y, mo) || h < 0 || h > 23 || mi < 0 ||
      mi > 59 || se < 0 || se > 59)
    return std::nullopt;
  const std::int64_t days = DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
  return days * kDaySeconds + h * 3600 + mi * 60 + se - kPlatformUtcOffsetSeconds;
}

std::string FormatPlatformTime(std::int64_t epochSeconds) {
  // Split before shifting to the zone so that no value overflows.
  std::int64_t days = epochSeconds / kDaySeconds;
  std::int64_t rest = epochSeconds % kDaySeconds;
  if (rest < 0) {
    rest += kDaySeconds;
    --days;
  }
  rest += kPlatformUtcOffsetSeconds;
  if (rest >= kDaySeconds) {
    rest -= kDaySeconds;
    ++days;
  }
  const CivilDate date = CivilFromDays(days);
  std::string out;
  out.reserve(24);
  if (date.year >= 0 && date.year <= 9999) {
    const auto y = static_cast<unsigned>(date.year);
    AppendTwoDigits(out, y / 100);
    AppendTwoDigits(out, y % 100);
  } else {
    out += std::to_string(date.year);
  }
  const auto secondOfDay = static_cast<unsigned>(rest);
  out += '-';
  AppendTwoDigits(out, date.month);
  out += '-';
  AppendTwoDigits(out, date.day);
  out += ' ';
  AppendTwoDigits(out, secondOfDay / 3600);
  out += ':';
  AppendTwoDigits(out, secondOfDay / 60 % 60);
  out += ':';
  AppendTwoDigits(out, secondOfDay % 60);
  return out;
}

std::optional<std::int64_t> HoursLeft(std::string_view endTime, double now) {
  const auto end = ParsePlatformTime(endTime);
  if (!end || !std::isfinite(now)) return std::nullopt;
  const double deadline = static_cast<double>(*end + std::int64_t{kRatingPeriodDays} * kDaySeconds);
  const double hours = std::trunc((deadline - now) / 3600.0);
  // A clock set far outside any real date must not overflow the conversion.
  if (!(hours > -9.0e18 && hours < 9.0e18)) return std::nullopt;
  return static_cast<std::int64_t>(hours);
}

bool WithinRatingPeriod(std::string_view endTime, double now) {
  const auto end = ParsePlatformTime(endTime);
  if (!end) return false;
  const double days = (now - static_cast<double>(*end)) / static_cast<double>(kDaySeconds);
  return !(days - kRatingPeriodDays > kPeriodMargin);
}

}  // namespace qm
