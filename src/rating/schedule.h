#pragma once
// The time-left texts of the automatic pass and the rating lead time.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

// Used when "评价时间" is missing, empty, not a number, negative or not finite.
inline constexpr float kDefaultRatingHours = 24.0f;

// What the seller is told when the platform stops answering "taobao.time.get".
// The run goes on and asks again at every refresh.
inline constexpr const char* kPlatformDownTitle = "连接淘宝API服务器失败";
inline constexpr const char* kPlatformDownText = "淘宝API服务端出问题了，每次刷新时再试，恢复后继续评价。";
inline constexpr const char* kPlatformBackText = "淘宝API服务器已恢复，继续自动评价。";
// The buyer-rated list is renewed before the next automatic rating.
inline constexpr const char* kNewsOldText = "程序曾暂停或本机时间有变动，先刷新买家已评列表再继续自动评价。";

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
// The lead time as "评价时间" holds it ("24", "36.5").
std::string RatingHoursText(double hours);
// The seller's "评价时间" in the Config.ini of the data directory `dir`, parsed.
float ReadRatingHours(const std::string& dir, const std::string& nick);

}  // namespace qm
