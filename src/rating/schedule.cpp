#include "rating/schedule.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

#include "platform/platform_time.h"
#include "settings/app_session.h"
#include "settings/config.h"

namespace qm {

std::string FormatTimeLeft(std::int32_t hours) {
  const float days = static_cast<float>(hours) / 24.0f;
  // Two decimals, rounded half away from zero.
  const double scaled = std::round(static_cast<double>(days) * 100.0);
  const bool negative = scaled < 0 || (scaled == 0 && days < 0);
  const double magnitude = std::fabs(scaled);
  const long long whole = static_cast<long long>(magnitude / 100.0);
  const int fraction = static_cast<int>(magnitude - static_cast<double>(whole) * 100.0);

  const long long hoursPart = std::llround(fraction / 100.0 * 24.0);
  // Each part at least two digits.
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, negative ? "-%lld天%02lld小时" : "%02lld天%02lld小时", whole,
                hoursPart);
  return buffer;
}

std::optional<std::string> TimeLeftText(std::string_view endTime, double now) {
  const auto hours = HoursLeft(endTime, now);
  if (!hours) return std::nullopt;
  return FormatTimeLeft(static_cast<std::int32_t>(std::clamp<std::int64_t>(*hours, 0, INT32_MAX)));
}

float ParseRatingHours(std::string_view text) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return kDefaultRatingHours;
  double value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return kDefaultRatingHours;
  if (!std::isfinite(value) || value < 0 || value > 1e6) return kDefaultRatingHours;
  return static_cast<float>(value);
}

std::string RatingHoursText(double hours) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", hours);
  return text;
}

float ReadRatingHours(const std::string& dir, const std::string& nick) {
  return ParseRatingHours(ReadRatingHoursSetting(dir, nick));
}

}  // namespace qm
