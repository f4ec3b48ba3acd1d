// The platform's clock and time texts: Beijing time whatever the machine's zone.
#include "platform/platform_time.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>

#include "platform/call_limits.h"
#include "platform/platform_link.h"
#include "platform/request.h"
#include "support/time_zone.h"

namespace qm {
namespace {

constexpr std::int64_t kHour = 3600, kDay = 86400;
// 2024-03-10 12:00:00 in Beijing.
constexpr std::int64_t kNoonBeijing = 1710043200;

class PlatformClockSet : public ::testing::Test {
 protected:
  double now_ = 0;
  const PlatformClock clock{[this] { return now_; }, [this] { return now_; }};
  void SetNow(double now) { now_ = now; }
  static std::string Ago(std::int64_t seconds) { return FormatPlatformTime(kNoonBeijing - seconds); }
};

TEST(PlatformTimeText, ReadsOnlyRealBeijingTimes) {
  EXPECT_EQ(ParsePlatformTime("1970-01-01 08:00:00"), 0);
  EXPECT_EQ(ParsePlatformTime("2024-03-10 12:00:00"), kNoonBeijing);
  EXPECT_EQ(ParsePlatformTime("2024-02-29 23:59:59"), kNoonBeijing - 9 * kDay - 12 * kHour - 1);
  for (const char* good : {"2000-02-29 00:00:00", "1900-01-01 00:00:00", "9999-12-31 23:59:59"})
    EXPECT_TRUE(ParsePlatformTime(good).has_value()) << good;
  for (const char* bad : {"", "2026-02-29 00:00:00", "1900-02-29 00:00:00", "2024-02-30 00:00:00",
                          "2026-04-31 00:00:00", "2026-13-01 00:00:00", "2026-00-10 00:00:00",
                          "2026-01-00 00:00:00", "2026-01-01 24:00:00", "2026-01-01 00:60:00",
                          "2026-01-01 00:00:60", "2026-01-01T00:00:00", "2026/01/01 00:00:00",
                          "2026-01-01 00:00", "2026-01-01 00:00:00.5", " 2026-01-01 00:00:0",
                          "2026-01-01 00:00:00 ", "+026-01-01 00:00:00", "2026-01-01 -1:00:00",
                          "２０２６-01-01 00:00:00", "abcd-ef-gh ij:kl:mn", "1899-12-31 23:59:59"})
    EXPECT_FALSE(ParsePlatformTime(bad).has_value()) << bad;
}

TEST(PlatformTimeText, WritesWhatItReads) {
  EXPECT_EQ(FormatPlatformTime(0), "1970-01-01 08:00:00");
  EXPECT_EQ(FormatPlatformTime(-8 * kHour - 1), "1969-12-31 23:59:59");
  for (const char* text : {"2014-01-02 03:04:05", "2014-12-31 23:59:59", "2015-01-01 07:59:59",
                           "2014-09-19 09:05:03", "2024-02-29 00:00:00", "1900-01-01 00:00:00",
                           "9999-12-31 23:59:59"})
    EXPECT_EQ(FormatPlatformTime(ParsePlatformTime(text).value()), text);
  // Every 3599th second across a leap year and its neighbours.
  for (std::int64_t t = 1672531200; t < 1735689600; t += 3599)
    ASSERT_EQ(ParsePlatformTime(FormatPlatformTime(t)), t) << t;
}

TEST_F(PlatformClockSet, HoursLeftDropsTheFractionTowardZero) {
  SetNow(kNoonBeijing);
  const double now = clock.Now();
  EXPECT_EQ(HoursLeft(Ago(0), now), 360);
  EXPECT_EQ(HoursLeft(Ago((13 * 24 + 23) * kHour), now), 25);
  EXPECT_EQ(HoursLeft(Ago(14 * kDay - 60), now), 24);
  EXPECT_EQ(HoursLeft(Ago(15 * kDay + 1800), now), 0);
  EXPECT_EQ(HoursLeft(Ago((15 * 24 + 3) * kHour), now), -3);
  // Half a second after now the 24 hours left are 23 and a fraction.
  EXPECT_EQ(HoursLeft(Ago(14 * kDay), now), 24);
  EXPECT_EQ(HoursLeft(Ago(14 * kDay), now + 0.5), 23);
  for (const char* bad : {"", "2014-02-30 10:00:00", "2014-09-19 12:00:00 ", "\xff\xfe"})
    EXPECT_FALSE(HoursLeft(bad, now).has_value()) << bad;
  EXPECT_FALSE(HoursLeft(Ago(0), std::nan("")).has_value());
  EXPECT_FALSE(HoursLeft(Ago(0), 1e300).has_value());
}

TEST_F(PlatformClockSet, FifteenDaysWithTheirMargin) {
  const double now = kNoonBeijing;
  EXPECT_TRUE(WithinRatingPeriod(Ago(14 * kDay + 23 * kHour), now));
  EXPECT_TRUE(WithinRatingPeriod(Ago(15 * kDay), now));
  EXPECT_FALSE(WithinRatingPeriod(Ago(15 * kDay + 1), now));
  EXPECT_TRUE(WithinRatingPeriod(Ago(-kDay), now));  // ends tomorrow
  // The margin is a ten-millionth of a day (8.64 ms).
  EXPECT_TRUE(WithinRatingPeriod(Ago(15 * kDay), now + 0.005));
  EXPECT_FALSE(WithinRatingPeriod(Ago(15 * kDay), now + 0.010));
  EXPECT_FALSE(WithinRatingPeriod("", now));
  EXPECT_FALSE(WithinRatingPeriod("not a time at all", now));
}

TEST_F(PlatformClockSet, TimestampsComeFromTheClocksGivenOrTheSystems) {
  SetNow(1500000000.999);
  EXPECT_EQ(clock.Now(), 1500000000.999);
  EXPECT_EQ(make_timestamp(clock), "2017-07-14 10:40:00");
  const PlatformClock systems;
  const double system =
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  EXPECT_NEAR(systems.Now(), system, 5.0);
  EXPECT_NEAR(static_cast<double>(ParsePlatformTime(make_timestamp(systems)).value()), system, 5.0);
}

// Once the platform has told its time, a machine clock set by hand (a day
// either way, or a few minutes) moves neither the platform's time nor the
// timestamps; time that passes, asleep or awake, does. A clock within the
// tolerance is taken as it is.
TEST_F(PlatformClockSet, ThePlatformsWordHoldsAgainstAMachineClockSetByHand) {
  double wall = static_cast<double>(kNoonBeijing) + 30, elapsed = 1000;
  PlatformClock machine([&] { return wall; }, [&] { return elapsed; });
  EXPECT_FALSE(machine.TimeKnown());
  EXPECT_EQ(machine.Now(), wall);
  machine.NoteTime(static_cast<double>(kNoonBeijing), elapsed);
  EXPECT_TRUE(machine.TimeKnown());
  EXPECT_EQ(machine.Now(), wall);  // 30 s apart: within the tolerance

  wall += kDay;  // set a day ahead while no time passes
  EXPECT_EQ(machine.Now(), static_cast<double>(kNoonBeijing));
  EXPECT_EQ(make_timestamp(machine), "2024-03-10 12:00:00");
  EXPECT_EQ(HoursLeft(Ago(14 * kDay), machine.Now()), 24);
  elapsed += 2 * kHour;  // two hours pass (a night's sleep counts as well)
  wall -= 2 * kDay;      // and the clock is set a day behind
  EXPECT_EQ(machine.Now(), static_cast<double>(kNoonBeijing + 2 * kHour));
  EXPECT_EQ(make_timestamp(machine), "2024-03-10 14:00:00");
  wall = static_cast<double>(kNoonBeijing + 2 * kHour) - 300;  // five minutes slow
  EXPECT_EQ(machine.Now(), static_cast<double>(kNoonBeijing + 2 * kHour));
  EXPECT_EQ(machine.Local(), wall);
}

TEST(HttpDate, ReadsTheOneFormServersSend) {
  EXPECT_EQ(ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"), 784111777);
  EXPECT_EQ(FormatHttpDate(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(FormatHttpDate(kNoonBeijing), "Sun, 10 Mar 2024 04:00:00 GMT");
  EXPECT_EQ(ParseHttpDate(FormatHttpDate(kNoonBeijing)), kNoonBeijing);
  for (const char* bad : {"", "Sun, 06 Nov 1994 08:49:37 UTC", "Sunday, 06-Nov-94 08:49:37 GMT",
                          "Sun Nov  6 08:49:37 1994", "Sun, 06 Now 1994 08:49:37 GMT", "Sun, 31 Nov 1994 08:49:37 GMT",
                          "Sun, 06 Nov 1994 25:49:37 GMT", "Sun, 06 Nov 1994 08:49:37 GMT "})
    EXPECT_FALSE(ParseHttpDate(bad).has_value()) << bad;
}

// The machine's zone must change nothing: the same results under each zone,
// around the night New York's clocks go forward.
TEST_F(PlatformClockSet, EveryMachineZoneGivesTheSameResults) {
  SetNow(kNoonBeijing + 0.25);
  std::string first;
  for (const auto& zone : test::kZoneCases) {
    test::ScopedTimeZone scoped(zone.zone);
    ASSERT_EQ(test::ScopedTimeZone::LocalOffsetHours(test::kZoneProbeInstant), zone.offsetHours)
        << zone.zone << " did not take effect (tzdata missing?)";
    EXPECT_EQ(make_timestamp(clock), "2024-03-10 12:00:00") << zone.zone;
    EXPECT_EQ(HoursLeft("2024-02-24 13:00:00", clock.Now()), 0) << zone.zone;
    EXPECT_TRUE(WithinRatingPeriod("2024-02-24 12:00:00", clock.Now() - 0.25)) << zone.zone;
    EXPECT_FALSE(WithinRatingPeriod("2024-02-24 11:59:59", clock.Now())) << zone.zone;
    std::string all;
    for (std::int64_t ago = -2 * kDay; ago <= 17 * kDay; ago += 1799) {
      const std::string end = Ago(ago);
      all += end + (WithinRatingPeriod(end, clock.Now()) ? " in " : " out ") +
             std::to_string(HoursLeft(end, clock.Now()).value()) + "\n";
    }
    if (first.empty()) first = all;
    EXPECT_EQ(all, first) << zone.zone;
  }
}

}  // namespace
}  // namespace qm

namespace qm {
namespace {

// What a program learns of the platform stays with its link: the time one
// link was told signs that link's requests only, and the calls of one key are
// counted once for all the accounts that use it through the same link.
TEST(PlatformLinkTest, TimeAndCallCountsStayWithTheirLink) {
  double wall = static_cast<double>(kNoonBeijing);
  auto clockAt = [&wall] { return std::make_shared<PlatformClock>([&wall] { return wall; }, [&wall] { return wall; }); };
  auto first = std::make_shared<PlatformLink>(clockAt()), second = std::make_shared<PlatformLink>(clockAt());
  const Account shopA{"12345678", "secret", "", Endpoints(), "店A", "", first};
  const Account shopB{"12345678", "secret", "", Endpoints(), "店B", "", first};
  const Account otherKey{"87654321", "secret", "", Endpoints(), "店C", "", first};
  const Account otherProgram{"12345678", "secret", "", Endpoints(), "店A", "", second};

  ClockOf(shopA).NoteTime(static_cast<double>(kNoonBeijing + kDay), wall);
  EXPECT_EQ(make_timestamp(ClockOf(shopB)), "2024-03-11 12:00:00");
  EXPECT_FALSE(ClockOf(otherProgram).TimeKnown());
  EXPECT_EQ(make_timestamp(ClockOf(otherProgram)), "2024-03-10 12:00:00");

  const std::string answered = "<time_get_response><time>2024-03-11 12:00:00</time></time_get_response>";
  EXPECT_FALSE(LimitsOf(shopA)->Met("taobao.time.get", answered));
  EXPECT_FALSE(LimitsOf(shopB)->Met("taobao.time.get", answered));
  EXPECT_EQ(LimitsOf(shopA)->RequestsToday(), 2);
  EXPECT_EQ(LimitsOf(otherKey)->RequestsToday(), 0);
  EXPECT_EQ(LimitsOf(otherProgram)->RequestsToday(), 0);
}

}  // namespace
}  // namespace qm
