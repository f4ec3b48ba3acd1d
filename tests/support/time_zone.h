#pragma once
// Runs a stretch of a test under another TZ and puts the old one back.
#include <optional>
#include <string>

namespace qm::test {

// Zones to run zone-independent code under, with the hour offset each must
// show at kZoneProbeInstant (2024-03-10 04:00 UTC: New York is still on
// standard time, three hours before its clocks go forward).
struct ZoneCase {
  const char* zone;
  int offsetHours;
};
inline constexpr long long kZoneProbeInstant = 1710043200;
inline constexpr ZoneCase kZoneCases[] = {{"UTC", 0}, {"America/New_York", -5}, {"Asia/Shanghai", 8}};

class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const std::string& zone);
  ~ScopedTimeZone();
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

  // The local hour offset from UTC at `epochSeconds` under the zone now in
  // force. A zone the C library cannot find silently acts as UTC, so a test
  // checks this against what the zone must give before trusting it.
  static int LocalOffsetHours(long long epochSeconds);

 private:
  std::optional<std::string> saved_;
};

}  // namespace qm::test
